// Dump bodies: exact bytes of the kinds the format document shows no
// example of, and round trips of every kind over a selection of key and
// value types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace nosql_db {
namespace {

using testing_util::read_file;
using testing_util::temp_dir;
using testing_util::test_store;

const std::string header_one = testing_util::bytes().header(1).b;

// Dumps a store holding one container made by the given lines; returns
// the record after the file header.
std::string record_of(std::initializer_list<const char*> lines) {
  test_store t;
  for (const char* l : lines) EXPECT_TRUE(t.ok(l)) << l;
  temp_dir dir;
  EXPECT_TRUE(t.ok("b " + dir.file("d")));
  const std::string bytes = read_file(dir.file("d"));
  EXPECT_EQ(bytes.substr(0, header_one.size()), header_one);
  return bytes.substr(header_one.size());
}

// The bodies the format document has no example of (its examples are
// checked byte for byte by formats_doc_test.cc): unnamed, vkey 0; kind,
// descriptors, body.
TEST(DumpBodies, ExactBytes) {
  const auto unnamed = [](const char* kind) { return testing_util::bytes().text("").u64(0).text(kind); };
  EXPECT_EQ(record_of({"c multiset u08", "i 0 3", "i 0 1", "i 0 3"}),
            unnamed("multiset").desc(0, 1, 0).desc(0, 1, 0).u64(3).raw("\x01\x03\x03").b);
  EXPECT_EQ(record_of({"c deque u08", "i 0 first 2", "i 0 first 1", "i 0 last 3"}),
            unnamed("deque").desc(0, 1, 0).desc(0, 1, 0).u64(3).raw("\x01\x02\x03").b);
  EXPECT_EQ(record_of({"c list string", "i 0 last b", "i 0 first a"}),
            unnamed("list").desc(4, 2, 2).desc(0, 1, 0).u64(2).text("a").text("b").b);
}

// Builds one container per kind with a few elements, dumps the store, reads
// it into a store that held something else, and compares what describe and
// "g V all" show (plus values for maps).
TEST(DumpBodies, EveryKindRoundTrips) {
  const std::vector<std::vector<std::string>> containers = {
      {"c vector date v", "i 0 last 2024-02-29", "i 0 last 1999-01-01"},
      {"c list string l", "i 1 last \"a b\"", "i 1 first \"\\xff\"", "i 1 last \"\""},
      {"c deque i64 dq", "i 2 first -1", "i 2 last 9223372036854775807", "i 2 first 3"},
      {"c queue time q", "i 3 last 12:00:01.5", "i 3 last 00:00:00"},
      {"c stack double st", "i 4 last -0.0", "i 4 last 1e300", "i 4 last nan", "i 4 last -inf"},
      {"c heap u32 h", "i 5 9", "i 5 2", "i 5 7", "i 5 2"},
      {"c set datetime s", "i 6 2024-01-02T03:04:05", "i 6 2000-01-01_00:00:00.000000001"},
      {"c multiset float ms", "i 7 1.5", "i 7 -2", "i 7 1.5"},
      {"c map i16 string m", "i 8 -3 minus", "i 8 300 \"three hundred\""},
      {"c multimap string u64 mm", "i 9 k 1", "i 9 k 2", "i 9 a 3"},
      {"c hashmap u08 date 10 hm", "i 10 9 2020-02-02", "i 10 0 2021-03-03"},
      {"c hashtable i32 1000 ht", "i 11 -2147483648", "i 11 -2147483000"},
      {"c trie", "i 12 \"caf\\u00e9\"", "i 12 cab", "i 12 \"\\x7f\""},
      // The extremes of the other types.
      {"c vector i08", "i 13 last -128", "i 13 last 127"},
      {"c vector u64 \"a long name for a vector\"", "i 14 last 18446744073709551615", "i 14 last 0"},
      {"c set i32 big"},
  };
  test_store a;
  for (const auto& c : containers) {
    for (const auto& l : c) ASSERT_TRUE(a.ok(l)) << l;
  }
  for (int k = 0; k < 3000; ++k) ASSERT_TRUE(a.ok("i 15 " + std::to_string((k * 7919) % 3000)));  // several leaves
  ASSERT_TRUE(a.ok("e 3"));  // leave a gap
  auto show = [](test_store& t) {
    std::string s = t.table("k");
    for (int v = 0; v < 16; ++v) s += t.table("g " + std::to_string(v) + " all");
    s += t.table("g 8 value 300") + t.table("g 9 value k") + t.table("g 10 value 9");
    return s;
  };
  temp_dir dir;
  ASSERT_TRUE(a.ok("b " + dir.file("all")));
  test_store b;
  ASSERT_TRUE(b.ok("c vector i32 old"));
  ASSERT_TRUE(b.ok("r " + dir.file("all")));
  EXPECT_EQ(show(b), show(a));
  EXPECT_EQ(b.col("c vector i32")[0], "3");  // the gap is the first free vkey
  // A second dump of the read store is byte for byte the same file.
  ASSERT_TRUE(b.ok("e 3"));
  ASSERT_TRUE(b.ok("b " + dir.file("again")));
  EXPECT_EQ(read_file(dir.file("again")), read_file(dir.file("all")));
}

}  // namespace
}  // namespace nosql_db
