// Helpers for tests that drive a private store through the dispatcher.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <stdlib.h>

#include "api/batch.h"
#include "api/exec.h"
#include "api/print.h"
#include "lang/result_set.h"
#include "catalog/store.h"
#include "lang/format.h"
#include "lang/codec.h"
#include "lang/tokenizer.h"

namespace nosql_db::testing_util {

// The value every kind without values takes with a key.
inline const uint8_t no_value = 0;
inline const value_ref u08_value{scalar::u08, &no_value};

// The tokens of a line; {"<fail>"} for a failed split.
inline std::vector<std::string> tokens_of(std::string_view line) {
  token t[max_tokens];
  const int n = split_tokens(line.data(), static_cast<int64_t>(line.size()), t);
  if (n == 0) return {"<fail>"};
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.emplace_back(t[i].view());
  return out;
}

// A line's answer rendered as print() shows it; "<fail>" on failure.
inline std::string table_of(store& s, std::string_view line) {
  datas d;
  if (!exec_cmd(s, line.data(), static_cast<int64_t>(line.size()), &d)) return "<fail>";
  xstring t;
  render_table(d, &t);
  return std::string(t.view());
}

// Everything a command could have changed, as the commands show it: the
// describe table and every container's elements.
inline std::string snapshot(store& s) {
  std::string out = table_of(s, "k");
  for (uint64_t v = 0, left = s.container_count(); left > 0 && v < store::slot_count; ++v)
    if (s.at(v)) out += table_of(s, "g " + std::to_string(v) + " all"), --left;
  return out;
}

// What a checkpoint would keep of a container: its dump body and handles.
inline std::string image(const ab_adt& c) {
  std::string bytes;
  dump_out out(&bytes);
  c.save(out);
  c.save_extras(out);
  return bytes;
}

// load() over exactly these bytes.
inline bool load_from(ab_adt& c, const std::string& body) {
  dump_in in(body.data(), body.size());
  return c.load(in);
}

// Little-endian bytes of hand-made dump files.
struct bytes {
  std::string b;
  template <class T>
  bytes& le(T v) {
    b.append(reinterpret_cast<const char*>(&v), sizeof v);
    return *this;
  }
  bytes& raw(std::string_view s) { return b.append(s), *this; }
  bytes& u8(uint8_t v) { return le(v); }
  bytes& u32(uint32_t v) { return le(v); }
  bytes& u64(uint64_t v) { return le(v); }
  bytes& text(std::string_view s) { return u64(s.size()).raw(s); }
  bytes& desc(uint8_t a, uint8_t s, uint8_t c) { return u8(a).u8(s).u8(c); }
  bytes& header(uint64_t records) { return raw("vxdb").u8(0).u64(records); }
  // An i32 vector record with the given elements.
  bytes& i32_vector(std::string_view name, uint64_t vkey, std::initializer_list<int32_t> xs) {
    text(name).u64(vkey).text("vector").desc(2, 0, 0).desc(0, 1, 0).u64(xs.size());
    for (int32_t x : xs) u32(static_cast<uint32_t>(x));
    return *this;
  }
};

// The cells of an answer's first column as print() shows them; none when
// it has no column.
inline std::vector<std::string> first_column(const datas& d) {
  std::vector<std::string> out;
  for (uint64_t r = 0; !d.cols.empty() && r < d.cols[0].rows(); ++r) {
    const datas_cell& cell = *d.cols[0].cell(r);
    xstring t;
    format_cell(d.cols[0].desc, cell.value, cell.text(), &t);
    out.emplace_back(t.view());
  }
  return out;
}

// The length of a random run: normal, or factor times it when NOSQL_LONG
// is set.
inline uint64_t op_count(uint64_t normal, uint64_t factor = 50) {
  return std::getenv("NOSQL_LONG") ? factor * normal : normal;
}

// Every element of a container in its order, or of an answer list.
template <class K>
std::vector<K> to_vec(const elem_array<K>& l) {
  return std::vector<K>(l.begin(), l.end());
}
template <class K>
std::vector<K> all_of(const adt<K>& c) {
  elem_array<K> l;
  EXPECT_TRUE(c.get_all(&l));
  return to_vec(l);
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
  // Runs lines separated by line feeds as one batch: the number of
  // commands, or -1 when it failed. The answers are dropped.
  int64_t batch(std::string_view text) {
    const std::vector<batch_item> items = batch_lines(text);
    std::vector<datas*> answers(items.size());
    const int64_t n = run_batch(s, items.data(), static_cast<int64_t>(items.size()), answers.data());
    for (int64_t i = 0; i < n; ++i)
      if (answers[i] != empty_result()) free_result(answers[i]);
    return n;
  }
  // A line, or several separated by line feeds as a batch; true on success.
  bool ok_any(std::string_view text) {
    return text.find('\n') == std::string_view::npos ? ok(text) : batch(text) >= 0;
  }
  // The cells of the first column of a successful command; {"<fail>"} on
  // failure and {"<none>"} when there is no column.
  std::vector<std::string> col(std::string_view line) {
    auto d = run(line);
    if (!d) return {"<fail>"};
    if (d->cols.empty()) return {"<none>"};
    return first_column(*d);
  }
  // The whole table as print() renders it.
  std::string table(std::string_view line) { return table_of(s, line); }

  store s;
};

// A fresh directory per test, removed with everything in it.
class temp_dir {
 public:
  temp_dir() {
    std::string t = (std::filesystem::temp_directory_path() / "vxdb_test_XXXXXX").string();
    if (!::mkdtemp(t.data())) std::abort();
    path_ = t;
  }
  ~temp_dir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(path_)) out.push_back(e.path().filename().string());
    return out;
  }

 private:
  std::string path_;
};

inline std::string read_file(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
inline void write_file(const std::string& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace nosql_db::testing_util
