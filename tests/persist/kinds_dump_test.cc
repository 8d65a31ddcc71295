// Dump bodies of every kind: exact bytes of small records, and round trips
// of every kind over a selection of key and value types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace nosql_db {
namespace {

using testing_util::read_file;
using testing_util::temp_dir;
using testing_util::test_store;

std::string u64le(uint64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); }
std::string text(std::string_view t) { return u64le(t.size()) + std::string(t); }
std::string desc(int size, int sign, int cls) { return {char(size), char(sign), char(cls)}; }
const std::string header_one = std::string("vxdb") + '\0' + u64le(1);

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

TEST(DumpBodies, ExactBytes) {
  // name length, name, vkey; then kind, descriptors, body.
  EXPECT_EQ(record_of({"c hashmap i08 string 256 h", "i 0 5 five", "i 0 -128 low"}),
            text("h") + u64le(0) + text("hashmap") + desc(0, 0, 0) + desc(4, 2, 2) + u64le(256) + u64le(2) +
                "\x80" + text("low") + "\x05" + text("five"));
  EXPECT_EQ(record_of({"c hashtable u16 100", "i 0 7"}),
            u64le(0) + u64le(0) + text("hashtable") + desc(1, 1, 0) + desc(0, 1, 0) + u64le(100) + u64le(1) +
                u64le(7) + std::string("\x07\x00", 2));
  EXPECT_EQ(record_of({"c trie", "i 0 apple", "i 0 app"}),
            u64le(0) + u64le(0) + text("trie") + desc(4, 2, 2) + desc(0, 1, 0) + u64le(2) + text("app") +
                text("apple"));
  EXPECT_EQ(record_of({"c map string string m", "i 0 b \"2\"", "i 0 a \"1\""}),
            text("m") + u64le(0) + text("map") + desc(4, 2, 2) + desc(4, 2, 2) + u64le(2) + text("a") + text("1") +
                text("b") + text("2"));
  EXPECT_EQ(record_of({"c multiset u08", "i 0 3", "i 0 1", "i 0 3"}),
            u64le(0) + u64le(0) + text("multiset") + desc(0, 1, 0) + desc(0, 1, 0) + u64le(3) + "\x01\x03\x03");
  EXPECT_EQ(record_of({"c heap i16", "i 0 5", "i 0 3", "i 0 8", "i 0 1"}),
            u64le(0) + u64le(0) + text("heap") + desc(1, 0, 0) + desc(0, 1, 0) + u64le(4) +
                std::string("\x01\x00\x03\x00\x08\x00\x05\x00", 8));
  EXPECT_EQ(record_of({"c deque u08", "i 0 first 2", "i 0 first 1", "i 0 last 3"}),
            u64le(0) + u64le(0) + text("deque") + desc(0, 1, 0) + desc(0, 1, 0) + u64le(3) + "\x01\x02\x03");
  // Elements at their own widths: i32, strings, and the packed calendar
  // records (date 4 bytes, time 7, datetime 11).
  const std::string vec = text("vector"), u08 = desc(0, 1, 0);
  EXPECT_EQ(record_of({"c vector i32 v", "i 0 last 1", "i 0 last -2"}),
            text("v") + u64le(0) + vec + desc(2, 0, 0) + u08 + u64le(2) + std::string("\1\0\0\0\xfe\xff\xff\xff", 8));
  EXPECT_EQ(record_of({"c vector string", "i 0 last ab", "i 0 last \"\"", "i 0 last \"x y\""}),
            u64le(0) + u64le(0) + vec + desc(4, 2, 2) + u08 + u64le(3) + text("ab") + text("") + text("x y"));
  EXPECT_EQ(record_of({"c vector date", "i 0 last 2021-03-04"}),
            u64le(0) + u64le(0) + vec + desc(5, 2, 3) + u08 + u64le(1) + "\xe5\x07\x03\x04");
  EXPECT_EQ(record_of({"c vector time", "i 0 last 05:06:07.000000009"}),
            u64le(0) + u64le(0) + vec + desc(5, 2, 4) + u08 + u64le(1) + std::string("\5\6\7\x09\0\0\0", 7));
  EXPECT_EQ(record_of({"c vector datetime", "i 0 last 2021-03-04T05:06:07.000000258"}),
            u64le(0) + u64le(0) + vec + desc(5, 2, 5) + u08 + u64le(1) +
                std::string("\xe5\x07\3\4\5\6\7\x02\x01\0\0", 11));
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
