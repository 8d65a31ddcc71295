// Trie: insertion, exact and case-blind lookup, listing order over all byte
// values, long keys, the non-string variant and the dump body.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "containers/trie.h"
#include "tests/containers/dump_io.h"

namespace nosql_db {
namespace {

using test::le;
using test::load_from;
using test::saved;

const uint8_t no_value = 0;
const value_ref u08_value{scalar::u08, &no_value};

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

bool has(const trie_adt& t, std::string_view k) {
  bool b = false;
  EXPECT_TRUE(t.get_contains(xstring(k), &b));
  return b;
}
bool has_nocase(const trie_adt& t, std::string_view k) {
  bool b = false;
  EXPECT_TRUE(t.get_contains_nocase(xstring(k), &b));
  return b;
}

TEST(TrieTest, InsertRefusesEmptyAndStoredKeys) {
  auto t = make_trie();
  EXPECT_TRUE(t->ins_key(xstring("apple"), u08_value));
  EXPECT_FALSE(t->ins_key(xstring("apple"), u08_value));
  EXPECT_FALSE(t->ins_key(xstring(""), u08_value));
  EXPECT_TRUE(t->ins_key(xstring("app"), u08_value));  // a prefix of a stored key
  EXPECT_EQ(t->size(), 2u);
  EXPECT_FALSE(has(*t, ""));
  EXPECT_FALSE(has_nocase(*t, ""));
  const int32_t wrong = 0;
  EXPECT_FALSE(t->ins_key(xstring("pear"), {scalar::i32, &wrong}));
}

struct lookup_case {
  std::vector<std::string_view> stored;
  std::string_view query;
  bool exact, nocase;
};

TEST(TrieTest, ExactAndCaseBlindLookup) {
  const lookup_case cases[] = {
      {{"apple", "app"}, "ap", false, false},
      {{"apple", "app"}, "app", true, true},
      {{"Apple"}, "apple", false, true},
      {{"Apple"}, "aPPLE", false, true},
      {{"Apple"}, "Apple!", false, false},
      {{"ab", "aB"}, "AB", false, true},
      // The exact path exists but ends on a non-terminal node: back up and
      // take the other case.
      {{"abcd", "ABC"}, "abc", false, true},
      // The exact path dies one byte before the end.
      {{"abX", "AbC"}, "abc", false, true},
      {{"abX", "AbC"}, "abD", false, false},
      // Only ASCII letters fold.
      {{"a[1"}, "A{1", false, false},
      {{"\xc3\xa9t\xc3\xa9"}, "\xc3\x89T\xc3\x89", false, false},
      {{"\xc3\xa9t\xc3\xa9"}, "\xc3\xa9T\xc3\xa9", false, true},
  };
  for (const lookup_case& lc : cases) {
    SCOPED_TRACE(std::string(lc.query));
    auto t = make_trie();
    for (std::string_view k : lc.stored) ASSERT_TRUE(t->ins_key(xstring(k), u08_value));
    EXPECT_EQ(has(*t, lc.query), lc.exact);
    EXPECT_EQ(has_nocase(*t, lc.query), lc.nocase);
  }
}

TEST(TrieTest, ListingIsUnsignedByteOrderWithPrefixesFirst) {
  auto t = make_trie({"b", "a\x80", "a", std::string_view("a\x00", 2), "\xff", "a\x7f", "apple", "app", "a\x01"});
  const std::vector<std::string> want = {"a", std::string("a\x00", 2), "a\x01", "app", "apple", "a\x7f", "a\x80",
                                         "b", "\xff"};
  EXPECT_EQ(listing(*t), want);
  EXPECT_TRUE(has(*t, "a\x7f"));
  EXPECT_TRUE(has(*t, "\xff"));
  EXPECT_FALSE(has(*t, "\xfe"));
}

TEST(TrieTest, EveryByteValueUnderOneNode) {
  std::vector<int> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[i] = i;
  std::shuffle(bytes.begin(), bytes.end(), std::mt19937(7));
  auto t = make_trie();
  for (int b : bytes) {
    const char k[2] = {'x', static_cast<char>(b)};
    ASSERT_TRUE(t->ins_key(xstring(k, 2), u08_value));
  }
  const std::vector<std::string> got = listing(*t);
  ASSERT_EQ(got.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(static_cast<uint8_t>(got[i][1]), i);
}

// Strings that extend, shorten or branch off a stored string all sit in the
// same branch.
TEST(TrieTest, BranchesSharingPrefixes) {
  auto t = make_trie({"abcdef", "abcxyz", "abc", "abcdefg", "a", "b", "abcdefgh"});
  EXPECT_EQ(listing(*t), (std::vector<std::string>{"a", "abc", "abcdef", "abcdefg", "abcdefgh", "abcxyz", "b"}));
  for (std::string_view k : {"ab", "abcd", "abcdefghi", "abcx", "bb", "c"}) {
    SCOPED_TRACE(std::string(k));
    EXPECT_FALSE(has(*t, k));
  }
  EXPECT_TRUE(has_nocase(*t, "ABCDEFG"));
  EXPECT_TRUE(has_nocase(*t, "AbCxYz"));
  EXPECT_FALSE(has_nocase(*t, "ABCX"));
  EXPECT_FALSE(t->ins_key(xstring("abcdefg"), u08_value));
  EXPECT_EQ(t->size(), 7u);
}

// Against a model: the std::set of the same strings (std::string orders
// bytes unsigned), and the set of their letter-folded forms.
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
  for (int i = 0; i < 3000; ++i) {
    const std::string k = random_key();
    const bool added = !k.empty() && model.insert(k).second;
    if (added) folded.insert(fold(k));
    ASSERT_EQ(t->ins_key(xstring(k), u08_value), added) << i;
  }
  EXPECT_EQ(t->size(), model.size());
  EXPECT_EQ(listing(*t), std::vector<std::string>(model.begin(), model.end()));
  for (int i = 0; i < 3000; ++i) {
    const std::string q = random_key();
    ASSERT_EQ(has(*t, q), model.count(q) == 1) << i;
    ASSERT_EQ(has_nocase(*t, q), !q.empty() && folded.count(fold(q)) == 1) << i;
  }
}

TEST(TrieTest, DelAllEmptiesAndTheTrieStaysUsable) {
  auto t = make_trie({"one", "two", "three"});
  EXPECT_TRUE(t->del_all());
  EXPECT_EQ(t->size(), 0u);
  EXPECT_TRUE(listing(*t).empty());
  EXPECT_FALSE(has(*t, "one"));
  EXPECT_TRUE(t->ins_key(xstring("one"), u08_value));
  EXPECT_EQ(listing(*t), std::vector<std::string>{"one"});
}

// Keys far deeper than any call stack could follow by recursion.
TEST(TrieTest, LongKeysNeedNoRecursion) {
  const std::string deep(1'000'000, 'q');
  auto t = make_trie();
  ASSERT_TRUE(t->ins_key(xstring(deep), u08_value));
  ASSERT_TRUE(t->ins_key(xstring(deep.substr(0, 500'000) + "r"), u08_value));
  EXPECT_TRUE(has(*t, deep));
  std::string upper(deep.size(), 'Q');
  EXPECT_TRUE(has_nocase(*t, upper));
  upper.back() = 'R';
  EXPECT_FALSE(has_nocase(*t, upper));
  EXPECT_EQ(listing(*t).size(), 2u);
  EXPECT_TRUE(t->del_all());
  ASSERT_TRUE(t->ins_key(xstring(deep), u08_value));  // freed again by the destructor
}

TEST(TrieTest, OtherKeyTypesOnlyCountAndClear) {
  trie_adt t(scalar::i32, scalar::u08);
  EXPECT_EQ(t.key_desc(), desc_of(scalar::string));
  EXPECT_EQ(t.size(), 0u);
  uint64_t n = 7;
  EXPECT_TRUE(t.get_count(&n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(t.ins_key(xstring("a"), u08_value));
  elem_array<xstring> l;
  EXPECT_FALSE(t.get_all(&l));
  bool b;
  EXPECT_FALSE(t.get_contains(xstring("a"), &b));
  EXPECT_FALSE(t.get_contains_nocase(xstring("a"), &b));
  EXPECT_TRUE(t.del_all());

  // A string trie with another value type answers everything but ins_key.
  trie_adt v(scalar::string, scalar::i32);
  EXPECT_FALSE(v.ins_key(xstring("a"), u08_value));
  EXPECT_TRUE(v.get_all(&l));
  EXPECT_TRUE(v.get_contains(xstring("a"), &b));
  EXPECT_FALSE(b);
}


std::string u64(uint64_t v) { return le(v); }
std::string text(std::string_view s) { return u64(s.size()) + std::string(s); }
const std::string trie_header = text("trie") + std::string("\x04\x02\x02\x00\x01\x00", 6);

TEST(TrieTest, SaveWritesCountThenTheListing) {
  auto t = make_trie({"apple", "app"});
  EXPECT_EQ(saved(*t), trie_header + u64(2) + text("app") + text("apple"));
  EXPECT_EQ(saved(trie_adt(scalar::i32, scalar::u08)), trie_header + u64(0));
}

TEST(TrieTest, LoadInsertsEachStringOnce) {
  auto t = make_trie();
  ASSERT_TRUE(load_from(*t, u64(4) + text("b") + text("a") + text("") + text("b")));
  EXPECT_EQ(listing(*t), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(t->size(), 2u);

  auto cut = make_trie();
  EXPECT_FALSE(load_from(*cut, u64(2) + text("a") + u64(5) + "ab"));
  EXPECT_FALSE(load_from(*cut, u64(~uint64_t{0}) + text("a")));

  trie_adt other(scalar::i32, scalar::u08);
  EXPECT_TRUE(load_from(other, u64(0)));
  EXPECT_FALSE(load_from(other, u64(1) + text("a")));
  EXPECT_EQ(other.size(), 0u);
}

}  // namespace
}  // namespace nosql_db
