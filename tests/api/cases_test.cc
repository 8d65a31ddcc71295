// Command tables: every file tests/cases/*.cases runs, line by line, against
// a store of its own, through the dispatcher as a host's exec would.
//
// A line is a command, " => ", and the answer it must give:
//   i 0 last 5 =>             succeeds with no column
//   g 0 all => 1 2 3          one column with these cells
//   g 0 all => ()             one column with no cells
//   k 0 => v | 0 | 0x0 | ...  several columns, " | " between them
//   g 0 nth 9 => !            fails
//   k 0 =>names skey | vkey   the answer's column names
// A row can run over several values: "* A B "C D": LINE" runs LINE once
// for each value (a value with spaces in double quotes), with {} in it
// replaced by the value:
//   * gt ge lt le: g 1 {} x => !
// A line without " => " must succeed; its answer is not checked. Several
// commands may share a line, joined by " ; ": all but the last must
// succeed, and the answer is the last one's. Cells are
// the texts print() shows; a string cell that is empty or holds a space,
// a quote, a backslash or a byte outside printable ASCII is written quoted,
// with \" \\ and \xHH escapes. Lines starting with // and blank lines are
// skipped. The last " => " on a line separates command and answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace nosql_db {
namespace {

std::string cell_text(const datas_col& col, const datas_cell& cell) {
  xstring t;
  format_cell(col.desc, cell.value, cell.text(), &t);
  const std::string_view v = t.view();
  if (col.desc.cls != scalar_traits<xstring>::desc.cls) return std::string(v);
  const bool plain = !v.empty() && std::all_of(v.begin(), v.end(),
                                               [](char c) { return c > ' ' && c < 0x7f && c != '"' && c != '\\'; });
  if (plain) return std::string(v);
  std::string q = "\"";
  for (const char c : v) {
    if (c == '"' || c == '\\') {
      q += '\\';
      q += c;
    } else if (c >= ' ' && c < 0x7f) {
      q += c;
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02x", static_cast<unsigned char>(c));
      q += b;
    }
  }
  return q + "\"";
}

// The answer as a case line writes it.
std::string answer(const datas& d, bool names) {
  std::string out;
  for (uint64_t c = 0; c < d.cols.size(); ++c) {
    if (c > 0) out += " | ";
    const datas_col& col = d.cols[c];
    if (names) {
      out += col.name.view();
      continue;
    }
    if (col.cells.empty()) out += "()";
    for (uint64_t r = 0; r < col.cells.size(); ++r) out += (r > 0 ? " " : "") + cell_text(col, col.cells[r]);
  }
  return out;
}

std::vector<std::string> case_files() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(NOSQL_CASES_DIR))
    if (e.path().extension() == ".cases") files.push_back(e.path().stem().string());
  std::sort(files.begin(), files.end());
  return files;
}

class Cases : public testing::TestWithParam<std::string> {
 protected:
  void run_line(testing_util::test_store& t, const std::string& line, int number);
};

TEST_P(Cases, Run) {
  const std::string path = std::string(NOSQL_CASES_DIR) + "/" + GetParam() + ".cases";
  std::ifstream in(path);
  ASSERT_TRUE(in) << path;
  testing_util::test_store t;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    if (text.empty() || text.starts_with("//")) continue;
    std::vector<std::string> lines{text};
    if (text.starts_with("* ")) {
      const size_t colon = text.find(": ");
      ASSERT_NE(colon, std::string::npos) << GetParam() << ".cases:" << number;
      std::istringstream values(text.substr(2, colon - 2));
      const std::string row = text.substr(colon + 2);
      lines.clear();
      for (std::string v; values >> std::quoted(v);) {
        std::string l = row;
        for (size_t at; (at = l.find("{}")) != std::string::npos;) l.replace(at, 2, v);
        lines.push_back(l);
      }
    }
    for (const std::string& line : lines) {
      run_line(t, line, number);
      if (HasFatalFailure()) return;
    }
  }
}

// One line of a case file: its commands, then the answer check.
void Cases::run_line(testing_util::test_store& t, const std::string& line, int number) {
  const size_t arrow = line.rfind(" =>");
  std::string command = line.substr(0, arrow);
  // Commands before the last " ; " set the scene: each must succeed.
  for (size_t semi; (semi = command.find(" ; ")) != std::string::npos; command.erase(0, semi + 3)) {
    const std::string first = command.substr(0, semi);
    ASSERT_TRUE(t.run(first)) << GetParam() << ".cases:" << number << ": " << first << " failed";
  }
  ASSERT_EQ(line.find(" ; * "), std::string::npos) << GetParam() << ".cases:" << number << ": a value row starts its line";
  std::string want;
  bool names = false, checked = arrow != std::string::npos;
  if (checked) {
    want = line.substr(arrow + 3);
    if (want.rfind("names", 0) == 0) {
      names = true;
      want.erase(0, 5);
    }
    if (!want.empty() && want[0] == ' ') want.erase(0, 1);
  }
  SCOPED_TRACE(testing::Message() << GetParam() << ".cases:" << number << ": " << command);
  const auto d = t.run(command);
  if (checked && want == "!") {
    EXPECT_EQ(d, nullptr) << "succeeded with: " << (d ? answer(*d, false) : "");
    return;
  }
  ASSERT_NE(d, nullptr) << "failed";
  if (checked) {
    EXPECT_EQ(answer(*d, names), want);
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, Cases, testing::ValuesIn(case_files()),
                         [](const testing::TestParamInfo<std::string>& i) { return i.param; });

}  // namespace
}  // namespace nosql_db
