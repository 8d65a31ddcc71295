// The table "Refusals by kind" of docs/commands.md against the library:
// every example runs on a container of every kind, holding 1 2 3 or
// nothing as the row says, and fails with the reason the row gives for
// that kind, succeeds where the row says so, and fails on every other kind
// because the kind does not answer the word.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "lang/failure.h"
#include "test_util.h"

namespace nosql_db {
namespace {

const std::map<std::string, std::string> creates = {
    {"vector", "c vector u32"},      {"list", "c list u32"},         {"deque", "c deque u32"},
    {"queue", "c queue u32"},        {"stack", "c stack u32"},       {"heap", "c heap u32"},
    {"set", "c set u32"},            {"multiset", "c multiset u32"}, {"map", "c map u32 u32"},
    {"multimap", "c multimap u32 u32"}, {"hashmap", "c hashmap u32 u32 8"}, {"hashtable", "c hashtable u32 8"},
    {"trie", "c trie"}};

std::vector<std::string> split(const std::string& s, const std::string& sep) {
  std::vector<std::string> out;
  for (size_t from = 0;;) {
    const size_t at = s.find(sep, from);
    out.push_back(s.substr(from, at - from));
    if (at == std::string::npos) return out;
    from = at + sep.size();
  }
}

// The `quoted` spans of a cell.
std::vector<std::string> quoted(const std::string& cell) {
  std::vector<std::string> out;
  for (size_t open = cell.find('`'); open != std::string::npos; open = cell.find('`', open)) {
    const size_t close = cell.find('`', open + 1);
    out.push_back(cell.substr(open + 1, close - open - 1));
    open = close + 1;
  }
  return out;
}

TEST(Docs, RefusalsByKind) {
  std::ifstream in(std::string(NOSQL_DOCS_DIR) + "/commands.md");
  ASSERT_TRUE(in);
  testing_util::test_store t;
  std::string text, command;  // command: "i 0 " and so on, from the table's heading
  bool inside = false;
  int rows = 0;
  for (int number = 1; std::getline(in, text); ++number) {
    if (text.starts_with("#")) inside = text == "### Refusals by kind";
    if (!inside || !text.starts_with("| ") || text.starts_with("|---")) continue;
    SCOPED_TRACE(testing::Message() << "commands.md:" << number);
    const std::vector<std::string> cell = split(text.substr(2, text.size() - 4), " | ");
    ASSERT_EQ(cell.size(), 5u);
    if (cell[0].find(" REF`") != std::string::npos) {
      command = cell[0].substr(1, 2) + "0 ";
      continue;
    }
    // The reason per kind; 0 where it succeeds.
    std::map<std::string, int> want;
    for (const std::string& group : split(cell[3], "; ")) {
      if (group == "—") break;
      const size_t on = group.find(" on ");
      ASSERT_NE(on, std::string::npos) << group;
      for (const std::string& k : split(group.substr(on + 4), ", "))
        EXPECT_TRUE(creates.contains(k) && want.emplace(k, std::stoi(group.substr(0, on))).second) << k;
    }
    if (cell[4] != "—") {
      for (const std::string& k : split(cell[4], ", ")) EXPECT_TRUE(creates.contains(k) && want.emplace(k, 0).second) << k;
    }
    ASSERT_TRUE(cell[2] == "1 2 3" || cell[2] == "nothing" || cell[2] == "either") << cell[2];
    for (const std::string& example : quoted(cell[0])) {
      for (const bool full : {true, false}) {
        if (cell[2] == (full ? "nothing" : "1 2 3")) continue;
        for (const auto& [kind, create] : creates) {
          ASSERT_TRUE(t.ok("clear") && t.ok(create));
          const bool keyed = kind != "vector" && kind != "list" && kind != "deque" && kind != "queue" && kind != "stack";
          for (const char* x : {"1", "2", "3"}) {
            ASSERT_TRUE(!full || t.ok(std::string(keyed ? "i 0 " : "i 0 last ") + x));
          }
          const auto it = want.find(kind);
          const int expected = it == want.end() ? static_cast<int>(failure::kind_lacks_word) : it->second;
          const bool ok = t.ok(command + example);
          EXPECT_EQ(ok ? 0 : static_cast<int>(last_failure()), expected)
              << command << example << " on a " << kind << (full ? " holding 1 2 3" : " holding nothing");
        }
      }
    }
    ++rows;
  }
  EXPECT_GE(rows, 40);
}

}  // namespace
}  // namespace nosql_db
