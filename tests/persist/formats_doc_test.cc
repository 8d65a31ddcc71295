// docs/FORMATS.md stays true. Every ```dump example: its offsets add up,
// its commands build a store that dumps to exactly its bytes, and its bytes
// read back into the same containers (placeholders aside) and dump to
// themselves again. Every ```record example: its commands, run in durable
// mode (the lines between .begin and .commit as one batch), journal exactly
// its bytes as their last record. Every kind has its body section.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "api/durable.h"
#include "persist/journal.h"
#include "test_util.h"

namespace nosql_db {
namespace {

using namespace testing_util;

const std::string docs_dir = NOSQL_DOCS_DIR;

struct example {
  std::string name;
  int line = 0;  // of the opening fence
  std::vector<std::string> commands;
  std::string bytes;
  std::string error;  // why the block cannot be read; empty when it can
};

std::string hex(uint64_t v, int width = 4) {
  char b[24];
  std::snprintf(b, sizeof b, "%0*llx", width, static_cast<unsigned long long>(v));
  return b;
}

// Hex digits and nothing else.
bool parse_hex(std::string_view t, uint64_t* out) {
  const auto r = std::from_chars(t.data(), t.data() + t.size(), *out, 16);
  return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size();
}

// "OFFSET: BB BB ...  note": appends the bytes; why not, or "".
std::string parse_bytes_line(std::string_view l, std::string* bytes) {
  const size_t colon = l.find(": ");
  uint64_t offset, b;
  if (colon == std::string_view::npos || !parse_hex(l.substr(0, colon), &offset)) return "no OFFSET: at the start";
  if (offset != bytes->size()) return "offset " + hex(offset) + ", but the bytes before end at " + hex(bytes->size());
  const std::string_view run = l.substr(colon + 2).substr(0, l.substr(colon + 2).find("  "));
  for (size_t i = 0; i < run.size(); i += 3) {
    const std::string_view tok = run.substr(i, 2);
    if (tok.size() != 2 || !parse_hex(tok, &b) || (i + 2 < run.size() && run[i + 2] != ' '))
      return "not a byte: \"" + std::string(run.substr(i, 3)) + "\"";
    bytes->push_back(static_cast<char>(b));
  }
  return run.empty() ? "no bytes" : "";
}

// The examples fenced as ```<fence> NAME.
std::vector<example> examples_in(const std::string& doc, const std::string& fence = "dump") {
  const std::string open = "```" + fence + " ";
  std::vector<example> out;
  std::istringstream in(doc);
  std::string l;
  bool inside = false;
  for (int n = 1; std::getline(in, l); ++n) {
    if (!inside) {
      if (l.rfind(open, 0) == 0) out.push_back({l.substr(open.size()), n, {}, {}, {}}), inside = true;
    } else if (l == "```") {
      inside = false;
    } else if (l.rfind("> ", 0) == 0) {
      out.back().commands.push_back(l.substr(2));
    } else if (out.back().error.empty()) {
      const std::string why = parse_bytes_line(l, &out.back().bytes);
      if (!why.empty()) out.back().error = "line " + std::to_string(n) + ": " + why;
    }
  }
  if (inside) out.back().error = "no closing fence";
  return out;
}

std::string where(const example& e) {
  return "example \"" + e.name + "\" (docs/FORMATS.md:" + std::to_string(e.line) + ")";
}
void PrintTo(const example& e, std::ostream* os) { *os << where(e); }

// Empty when the document's bytes and the file's agree; else where not.
std::string first_difference(const std::string& doc, const std::string& file) {
  const auto [d, f] = std::mismatch(doc.begin(), doc.end(), file.begin(), file.end());
  if (d != doc.end() && f != file.end())
    return "offset " + hex(static_cast<uint64_t>(d - doc.begin())) + ": the document has " +
           hex(static_cast<uint8_t>(*d), 2) + ", the file " + hex(static_cast<uint8_t>(*f), 2);
  if (doc.size() == file.size()) return "";
  return "the document has " + std::to_string(doc.size()) + " bytes, the file " + std::to_string(file.size());
}

std::string dump(test_store& t, const temp_dir& dir, const std::string& name) {
  EXPECT_TRUE(t.ok("b " + dir.file(name)));
  return read_file(dir.file(name));
}

bool is_placeholder(const ab_adt& c) {
  return c.kind_id() == kind::hashmap_not_allowed || c.kind_id() == kind::hashtable_not_allowed;
}

class FormatsDocExample : public testing::TestWithParam<example> {};

TEST_P(FormatsDocExample, IsWhatTheWriterWritesAndTheReaderReads) {
  const example& ex = GetParam();
  ASSERT_EQ(ex.error, "") << where(ex);
  temp_dir dir;
  test_store built;
  for (const std::string& c : ex.commands) ASSERT_TRUE(built.ok(c)) << where(ex) << ": " << c;
  EXPECT_EQ(first_difference(ex.bytes, dump(built, dir, "written")), "") << where(ex) << ", dumped";

  write_file(dir.file("doc"), ex.bytes);
  test_store read;
  ASSERT_TRUE(read.ok("c vector i32 replaced"));
  ASSERT_TRUE(read.ok("r " + dir.file("doc"))) << where(ex) << ", read";
  // The same containers, except that placeholders are not in the file.
  uint64_t placeholders = 0;
  for (uint64_t v = 0, left = built.s.container_count(); left > 0; ++v) {
    const ab_adt* c = built.s.at(v);
    if (!c) continue;
    --left;
    placeholders += is_placeholder(*c);
    for (const std::string& line : {"k " + std::to_string(v), "g " + std::to_string(v) + " all"})
      EXPECT_EQ(read.table(line), is_placeholder(*c) ? "<fail>" : built.table(line)) << where(ex) << ": " << line;
  }
  EXPECT_EQ(read.s.container_count() + placeholders, built.s.container_count()) << where(ex);
  EXPECT_EQ(first_difference(ex.bytes, dump(read, dir, "again")), "") << where(ex) << ", read and dumped again";
}

std::string test_name(const testing::TestParamInfo<example>& p) {
  std::string n = p.param.name;
  std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return n;
}
INSTANTIATE_TEST_SUITE_P(Doc, FormatsDocExample, testing::ValuesIn(examples_in(read_file(docs_dir + "/FORMATS.md"))),
                         test_name);

class FormatsDocRecord : public testing::TestWithParam<example> {};

TEST_P(FormatsDocRecord, IsTheJournalsLastRecord) {
  const example& ex = GetParam();
  ASSERT_EQ(ex.error, "") << where(ex);
  temp_dir dir;
  test_store t;
  ASSERT_EQ(durable_open(t.s, dir.path().c_str(), 0), 0);
  std::string batch;
  bool in_batch = false;
  for (const std::string& c : ex.commands) {
    if (c == ".begin" || c == ".commit") {
      if (c == ".commit") {
        EXPECT_GE(t.batch(batch), 0) << where(ex) << ": " << batch;
      }
      in_batch = c == ".begin";
      batch.clear();
    } else if (in_batch) {
      batch += c + "\n";
    } else {
      EXPECT_TRUE(t.ok(c)) << where(ex) << ": " << c;
    }
  }
  ASSERT_EQ(durable_close(t.s), 0);
  const int dir_fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  std::string last;
  uint64_t end = 0;
  EXPECT_TRUE(read_journal(dir_fd, 1, [&](std::string_view r) { return last.assign(r), true; }, &end));
  ::close(dir_fd);
  EXPECT_EQ(first_difference(ex.bytes, last), "") << where(ex);
}
INSTANTIATE_TEST_SUITE_P(Doc, FormatsDocRecord,
                         testing::ValuesIn(examples_in(read_file(docs_dir + "/FORMATS.md"), "record")), test_name);

TEST(FormatsDoc, ASectionForEveryKind) {
  const std::string doc = read_file(docs_dir + "/FORMATS.md");
  EXPECT_GE(examples_in(doc).size(), 6u);
  std::set<std::string> sections;
  std::istringstream in(doc);
  for (std::string l; std::getline(in, l);)
    if (l.rfind("## ", 0) == 0) sections.insert(l.substr(3));
  for (int k = 0; k <= static_cast<int>(kind::trie); ++k) {
    const std::string body = "Body: " + std::string(kind_word(static_cast<kind>(k)));
    EXPECT_TRUE(sections.count(body)) << "no section \"" << body << "\"";
  }
}

}  // namespace
}  // namespace nosql_db
