// Trie: listing order over all byte values, a model check of insertion and
// both lookups, keys too long for recursion, and reading a dump body (the
// command tables cover the words).
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "containers/trie/trie.h"
#include "test_util.h"

namespace nosql_db {
namespace {

using namespace testing_util;


std::unique_ptr<trie_adt> make_trie(std::initializer_list<std::string_view> keys = {}) {
  auto t = std::make_unique<trie_adt>(scalar::string, scalar::u08);
  for (std::string_view k : keys) EXPECT_TRUE(t->ins_key(xstring(k), u08_value)) << k;
  return t;
}

std::vector<std::string> listing(const trie_adt& t) {
  elem_array<xstring> l;
  EXPECT_TRUE(t.get_all(&l));
  std::vector<std::string> out;
  for (const xstring& s : l) out.emplace_back(s.view());
  return out;
}

bool has(const trie_adt& t, std::string_view k, bool nocase = false) {
  bool b = false;
  EXPECT_TRUE(nocase ? t.get_contains_nocase(xstring(k), &b) : t.get_contains(xstring(k), &b));
  return b;
}

// Against a model: the std::set of the same strings (std::string orders
// bytes unsigned), and the set of their letter-folded forms; the nodes are
// well formed and the count is the strings stored after every insertion.
TEST(TrieTest, AgreesWithASetOnRandomKeys) {
  const char alphabet[] = {'a', 'A', 'b', 'B', '[', '\x7f', '\x80', '\xff', '\0'};
  std::mt19937 rng(11);
  auto random_key = [&] {
    std::string k(rng() % 7, ' ');
    for (char& c : k) c = alphabet[rng() % sizeof alphabet];
    return k;
  };
  auto fold = [](std::string k) {
    for (char& c : k) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return k;
  };
  auto t = make_trie();
  std::set<std::string> model, folded;
  // First "x" followed by every byte value in a scattered order: one node
  // with 256 children.
  for (int i = 0; i < 256 + 3000; ++i) {
    const std::string k = i < 256 ? std::string{'x', static_cast<char>((i * 167) % 256)} : random_key();
    const bool added = !k.empty() && model.insert(k).second;
    if (added) folded.insert(fold(k));
    ASSERT_EQ(t->ins_key(xstring(k), u08_value), added) << i;
    ASSERT_TRUE(t->verify()) << i;
    ASSERT_EQ(t->size(), model.size()) << i;
  }
  EXPECT_EQ(t->size(), model.size());
  EXPECT_EQ(listing(*t), std::vector<std::string>(model.begin(), model.end()));
  for (int i = 0; i < 3000; ++i) {
    const std::string q = random_key();
    ASSERT_EQ(has(*t, q), model.count(q) == 1) << i;
    ASSERT_EQ(has(*t, q, true), !q.empty() && folded.count(fold(q)) == 1) << i;
  }
}

// Keys far deeper than any call stack could follow by recursion.
TEST(TrieTest, LongKeysNeedNoRecursion) {
  const std::string deep(1'000'000, 'q');
  auto t = make_trie();
  ASSERT_TRUE(t->ins_key(xstring(deep), u08_value));
  ASSERT_TRUE(t->ins_key(xstring(deep.substr(0, 500'000) + "r"), u08_value));
  EXPECT_TRUE(has(*t, deep));
  std::string upper(deep.size(), 'Q');
  EXPECT_TRUE(has(*t, upper, true));
  upper.back() = 'R';
  EXPECT_FALSE(has(*t, upper, true));
  EXPECT_EQ(listing(*t).size(), 2u);
  EXPECT_TRUE(t->verify());
  EXPECT_TRUE(t->del_all());
  ASSERT_TRUE(t->ins_key(xstring(deep), u08_value));  // freed again by the destructor
}

TEST(TrieTest, LoadInsertsEachStringOnce) {
  auto t = make_trie();
  ASSERT_TRUE(load_from(*t, bytes().u64(4).text("b").text("a").text("").text("b").b));
  EXPECT_EQ(listing(*t), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(t->size(), 2u);

  auto cut = make_trie();
  EXPECT_FALSE(load_from(*cut, bytes().u64(2).text("a").u64(5).raw("ab").b));
  EXPECT_FALSE(load_from(*cut, bytes().u64(~uint64_t{0}).text("a").b));

  trie_adt other(scalar::i32, scalar::u08);
  EXPECT_TRUE(load_from(other, bytes().u64(0).b));
  EXPECT_FALSE(load_from(other, bytes().u64(1).text("a").b));
  EXPECT_EQ(other.size(), 0u);
}

// Insertions that spell stored tails out as nodes, taken back: every
// answer is what it was (the undo tests compare dumps only).
TEST(TrieTest, RollbackRestoresEveryAnswer) {
  const std::string_view probes[] = {"abcdef", "abcxyz", "ab", "abc", "ABC", "aBcDeF", "abcd", "x", "q", "Ab"};
  auto t = make_trie({"abcdef", "Abc", "x"});
  auto answers = [&] {
    std::vector<std::string> out = listing(*t);
    for (std::string_view p : probes) out.push_back(std::to_string(has(*t, p)) + std::to_string(has(*t, p, true)));
    return out;
  };
  const std::vector<std::string> before = answers();
  t->begin_undo();
  for (std::string_view k : {"abcxyz", "ab", "abcd", "abcdef", "q", "xa", "xb"}) t->ins_key(xstring(k), u08_value);
  t->del_all();
  ASSERT_TRUE(t->ins_key(xstring("abc"), u08_value));
  t->rollback();
  EXPECT_EQ(answers(), before);
  EXPECT_TRUE(t->verify());
  t->begin_undo();  // a trie dropped while recording frees what it kept
  t->del_all();
}

}  // namespace
}  // namespace nosql_db
