// Dump bodies: exact bytes of the kinds the format document shows no
// example of, and round trips of the types at their extremes.
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace nosql_db {
namespace {

using namespace testing_util;

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

// Every kind's body round trips through the format document's examples and
// the replayed durable histories; this is the types at their extremes:
// strings with no bytes or bytes above 0x7f, the ends of the integer
// types, signed zero, infinities and NaN, nanoseconds, and a tree of many
// leaves. It reads into a store that held something else, keeps a gap in
// the vkeys as the first free one, dumps to the same bytes again, and
// reads the same with bytes after its last record.
TEST(DumpBodies, TypeExtremesRoundTrip) {
  test_store a;
  for (const char* l : {"c vector date v", "i 0 last 2024-02-29", "i 0 last 1999-01-01", "c list string l",
                        "i 1 last \"a b\"", "i 1 first \"\\xff\"", "i 1 last \"\"", "c deque i64 dq",
                        "i 2 first -9223372036854775808", "i 2 last 9223372036854775807", "c queue time q",
                        "i 3 last 12:00:01.5", "c stack double st", "i 4 last -0.0", "i 4 last 1e300",
                        "i 4 last nan", "i 4 last -inf", "c set datetime s", "i 5 2000-01-01_00:00:00.000000001",
                        "c hashmap u08 date 10 hm", "i 6 9 2020-02-02", "c hashtable i32 1000 ht",
                        "i 7 -2147483648", "c trie", "i 8 \"caf\\u00e9\"", "i 8 \"\\x7f\"", "c vector i08",
                        "i 9 last -128", "i 9 last 127", "c vector u64 \"a long name for a vector\"",
                        "i 10 last 18446744073709551615", "c set i32 big", "e 3"})
    ASSERT_TRUE(a.ok(l)) << l;
  for (int k = 0; k < 3000; ++k) ASSERT_TRUE(a.ok("i 11 " + std::to_string((k * 7919) % 3000)));
  temp_dir dir;
  ASSERT_TRUE(a.ok("b " + dir.file("all")));
  test_store b;
  ASSERT_TRUE(b.ok("c vector i32 old"));
  ASSERT_TRUE(b.ok("r " + dir.file("all")));
  EXPECT_EQ(snapshot(b.s) + b.table("g 6 value 9"), snapshot(a.s) + a.table("g 6 value 9"));
  EXPECT_EQ(b.col("c vector i32")[0], "3");  // the gap is the first free vkey
  ASSERT_TRUE(b.ok("e 3"));
  ASSERT_TRUE(b.ok("b " + dir.file("again")));
  EXPECT_EQ(read_file(dir.file("again")), read_file(dir.file("all")));
  write_file(dir.file("tail"), read_file(dir.file("all")) + "bytes after the last record are not read");
  ASSERT_TRUE(b.ok("r " + dir.file("tail")));
  EXPECT_EQ(snapshot(b.s), snapshot(a.s));
}

}  // namespace
}  // namespace nosql_db
