// Hashmap, hashtable and trie through the command path (exec_cmd on a local
// store).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/exec.h"

namespace nosql_db {
namespace {

class HashTrieCmdTest : public testing::Test {
 protected:
  bool run(std::string_view line) {
    d_ = datas();
    return exec_cmd(s_, line.data(), static_cast<int64_t>(line.size()), &d_);
  }
  // The single cell of a one-column answer, as text or as a number.
  std::string text() {
    EXPECT_EQ(d_.cols.size(), 1u);
    return d_.cols.empty() || d_.cols[0].cells.empty() ? "<none>" : std::string(d_.cols[0].cells[0].text());
  }
  uint64_t number() {
    EXPECT_EQ(d_.cols.size(), 1u);
    uint64_t v = ~uint64_t{0};
    if (!d_.cols.empty() && !d_.cols[0].cells.empty()) std::memcpy(&v, d_.cols[0].cells[0].value, 8);
    return v;
  }

  // The vkey a create answered (first of its two columns).
  uint64_t vkey() {
    uint64_t v = ~uint64_t{0};
    if (!d_.cols.empty() && !d_.cols[0].cells.empty()) std::memcpy(&v, d_.cols[0].cells[0].value, 8);
    return v;
  }

  store s_;
  datas d_;
};

TEST_F(HashTrieCmdTest, SignedHashmapKeysThroughCommands) {
  ASSERT_TRUE(run("c hashmap i08 string 256 hm"));
  EXPECT_TRUE(run("i \"hm\" -128 x"));
  EXPECT_TRUE(run("i \"hm\" 127 y"));
  EXPECT_FALSE(run("i \"hm\" 127 z"));
  ASSERT_TRUE(run("g \"hm\" value -128"));
  EXPECT_EQ(text(), "x");
  ASSERT_TRUE(run("g \"hm\" count"));
  EXPECT_EQ(number(), 256u);
  ASSERT_TRUE(run("s \"hm\" equal -128 0"));
  ASSERT_TRUE(run("g \"hm\" all"));
  ASSERT_EQ(d_.cols.size(), 1u);
  ASSERT_EQ(d_.cols[0].cells.size(), 2u);
  EXPECT_EQ(static_cast<int8_t>(d_.cols[0].cells[0].value[0]), 0);
  EXPECT_EQ(static_cast<int8_t>(d_.cols[0].cells[1].value[0]), 127);
  EXPECT_TRUE(run("d \"hm\" equal 0"));
  EXPECT_FALSE(run("d \"hm\" equal 0"));

  ASSERT_TRUE(run("c hashmap i08 u08 128 half"));
  EXPECT_TRUE(run("i \"half\" -1"));
  EXPECT_FALSE(run("i \"half\" 0"));
}

TEST_F(HashTrieCmdTest, PlaceholderHashtableTakesAVkeyButNoElements) {
  ASSERT_TRUE(run("c hashtable string 16"));
  EXPECT_EQ(vkey(), 0u);
  EXPECT_FALSE(run("i 0 abc"));
  EXPECT_FALSE(run("g 0 count"));
  EXPECT_FALSE(run("g 0 key_type"));
  EXPECT_TRUE(run("e 0"));
}

TEST_F(HashTrieCmdTest, UnallocatableCapacityRegistersNothing) {
  // exec_cmd may pass the allocator's failure on (exec catches it) or
  // answer false; either way nothing is created.
  bool created = true;
  try {
    created = run("c hashmap u64 u08 2305843009213693952 big");
  } catch (const std::bad_alloc&) {
    created = false;
  }
  EXPECT_FALSE(created);
  EXPECT_EQ(s_.container_count(), 0u);
  uint64_t v;
  EXPECT_FALSE(s_.find_name("big", &v));
  ASSERT_TRUE(run("c hashtable u32 10 big"));
  EXPECT_EQ(vkey(), 0u);  // the next create still gets vkey 0
}

TEST_F(HashTrieCmdTest, TrieContainAndUcontain) {
  ASSERT_TRUE(run("c trie"));
  EXPECT_TRUE(run("i 0 abc"));
  EXPECT_FALSE(run("i 0 abc"));
  const std::pair<const char*, uint64_t> cases[] = {
      {"g 0 contain abc", 1}, {"g 0 contain ABC", 0}, {"g 0 ucontain ABC", 1},
      {"g 0 ucontain ABd", 0}, {"g 0 contain ab", 0},
  };
  for (const auto& [line, want] : cases) {
    SCOPED_TRACE(line);
    ASSERT_TRUE(run(line));
    ASSERT_EQ(d_.cols.size(), 1u);
    ASSERT_EQ(d_.cols[0].cells.size(), 1u);
    EXPECT_EQ(d_.cols[0].cells[0].value[0], want);
  }
  ASSERT_TRUE(run("g 0 count"));
  EXPECT_EQ(number(), 1u);
  ASSERT_TRUE(run("g 0 key_type"));
  EXPECT_EQ(text(), "string");

  ASSERT_TRUE(run("c trie i32"));
  ASSERT_TRUE(run("g 1 key_type"));
  EXPECT_EQ(text(), "string");
  EXPECT_FALSE(run("i 1 abc"));
  ASSERT_TRUE(run("g 1 count"));
  EXPECT_EQ(number(), 0u);
  ASSERT_TRUE(run("g 1 contain abc"));
  EXPECT_TRUE(d_.cols.empty());
  EXPECT_FALSE(run("c trie string t"));  // a trie takes no name
}

}  // namespace
}  // namespace nosql_db
