// Helpers for tests that drive a private store through the dispatcher.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "api/exec.h"
#include "api/print.h"
#include "api/result_set.h"
#include "catalog/store.h"
#include "lang/format.h"

namespace nosql_db::testing_util {

// One result set as text: every column's cells formatted, column by column.
inline std::vector<std::vector<std::string>> cells_of(const datas& d) {
  std::vector<std::vector<std::string>> out;
  for (const datas_col& c : d.cols) {
    auto& col = out.emplace_back();
    for (const datas_cell& cell : c.cells) {
      xstring t;
      format_cell(c.desc, cell.value, cell.text(), &t);
      col.emplace_back(t.view());
    }
  }
  return out;
}

// A store of its own plus a way to run command lines against it.
class test_store {
 public:
  // Runs one line; null on failure.
  std::unique_ptr<datas> run(std::string_view line) {
    auto d = std::make_unique<datas>();
    if (!exec_cmd(s, line.data(), static_cast<int64_t>(line.size()), d.get())) return nullptr;
    return d;
  }
  bool ok(std::string_view line) { return run(line) != nullptr; }
  // The cells of the first column of a successful command; {"<fail>"} on
  // failure and {"<none>"} when there is no column.
  std::vector<std::string> col(std::string_view line) {
    auto d = run(line);
    if (!d) return {"<fail>"};
    if (d->cols.empty()) return {"<none>"};
    return cells_of(*d)[0];
  }
  // The whole table as print() renders it.
  std::string table(std::string_view line) {
    auto d = run(line);
    if (!d) return "<fail>";
    xstring t;
    render_table(*d, &t);
    return std::string(t.view());
  }

  store s;
};

using strings = std::vector<std::string>;

}  // namespace nosql_db::testing_util
