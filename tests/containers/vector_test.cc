// The vector: positional rules at the edges, growth, and every element type
// through the commands.
#include "containers/vector.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace nosql_db {
namespace {

using testing_util::strings;
using testing_util::test_store;

TEST(Vector, GrowsByDoublingAndKeepsItsBlock) {
  vec_adt<int32_t> v;
  std::vector<uint64_t> caps;
  for (int32_t i = 1; i <= 4; ++i) {
    ASSERT_TRUE(v.ins_last(i));
    caps.push_back(v.capacity());
  }
  EXPECT_EQ(caps, (std::vector<uint64_t>{2, 2, 6, 6}));
  ASSERT_TRUE(v.del_all());
  EXPECT_EQ(v.size(), 0u);
  for (int32_t i = 0; i < 6; ++i) ASSERT_TRUE(v.ins_last(i));
  EXPECT_EQ(v.capacity(), 6u);  // refilled without growth
}

// Runs setup lines on a fresh i32 vector at vkey 0, then one line; returns
// the first column of the answer, or the vector's content after a change.
strings after(std::initializer_list<const char*> setup, const std::string& line) {
  test_store t;
  EXPECT_TRUE(t.ok("c vector i32 v"));
  for (const char* s : setup) EXPECT_TRUE(t.ok(s)) << s;
  if (line[0] == 'g') return t.col(line);
  if (!t.ok(line)) return {"<fail>"};
  return t.col("g 0 all");
}

TEST(Vector, PositionalRules) {
  const auto abc = {"i 0 last 10", "i 0 last 20", "i 0 last 30"};
  struct {
    std::initializer_list<const char*> setup;
    std::string line;
    strings want;
  } cases[] = {
      {abc, "i 0 nth 2 15", {"10", "15", "20", "30"}},
      {abc, "i 0 nth 1 5", {"5", "10", "20", "30"}},
      {abc, "i 0 nth 3 99", {"10", "20", "30", "99"}},
      {abc, "i 0 nth 4 99", {"10", "20", "30", "99"}},
      {abc, "i 0 nth 5 99", {"<fail>"}},
      {abc, "i 0 nth 0 99", {"<fail>"}},
      {{}, "i 0 nth 1 7", {"7"}},
      {{}, "i 0 nth 2 7", {"<fail>"}},
      {abc, "i 0 nth 0x2 5", {"10", "5", "20", "30"}},
      {abc, "i 0 nth x 5", {"<fail>"}},
      {abc, "i 0 last 0 5", {"10", "20", "30", "5"}},  // the position of last is ignored
      {abc, "i 0 7", {"<fail>"}},                      // vectors take no keys
      {abc, "i 0 first", {"<fail>"}},                  // "first" is not an i32
      {abc, "g 0 range 2 100", {"20", "30"}},
      {abc, "g 0 range 4 5", {"<none>"}},
      {abc, "g 0 range 3 2", {"<none>"}},
      {abc, "g 0 range 0 2", {"<none>"}},
      {abc, "g 0 last_n 5", {"10", "20", "30"}},
      {abc, "g 0 last_n 2", {"20", "30"}},
      {abc, "g 0 first_n 0", {"<none>"}},
      {{}, "g 0 first_n 2", {}},
      {{}, "g 0 all", {}},
      {{}, "g 0 first", {"<none>"}},
      {abc, "g 0 nth 1", {"10"}},
      {abc, "g 0 nth 0", {"<none>"}},
      {abc, "g 0 nth 4", {"<none>"}},
      {abc, "g 0 nth x", {"<fail>"}},
      {{"i 0 last 10", "i 0 last 20", "i 0 last 20"}, "g 0 index 20", {"1"}},
      {abc, "g 0 index 40", {"<none>"}},
      {abc, "g 0 first", {"10"}},
      {abc, "g 0 last", {"30"}},
      {abc, "g 0 max", {"<none>"}},  // vectors don't answer min/max
      {abc, "d 0 nth 2", {"10", "30"}},
      {abc, "d 0 nth 0", {"<fail>"}},
      {abc, "d 0 xyz", {"<fail>"}},
      {abc, "d 0 range 2 9", {"10"}},
      {abc, "d 0 first_n 2", {"30"}},
      {abc, "d 0 last_n 9", {}},
      {abc, "d 0 first", {"20", "30"}},
      {abc, "d 0 last", {"10", "20"}},
      {abc, "d 0 all", {}},
      {{}, "d 0 all", {}},
      {{}, "d 0 first_n 5", {}},
      {{}, "d 0 last", {"<fail>"}},
      {abc, "s 0 nth 2 9", {"10", "9", "30"}},
      {abc, "s 0 all 0", {"0", "0", "0"}},
      {abc, "s 0 range 1 2 7", {"7", "7", "30"}},
      {abc, "s 0 first_n 5 1", {"1", "1", "1"}},
      {abc, "s 0 last_n 1 1", {"10", "20", "1"}},
      {abc, "s 0 first 4", {"4", "20", "30"}},
      {abc, "s 0 last 4", {"10", "20", "4"}},
      {abc, "s 0 nth 0 5", {"<fail>"}},
      {abc, "s 0 xyz 5", {"<fail>"}},
      {abc, "s 0 all abc", {"<fail>"}},
      {{}, "s 0 first 5", {"<fail>"}},
      {{}, "s 0 all 5", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(after(c.setup, c.line), c.want);
  }
}

TEST(Vector, StringSlotsReuseTheirBuffers) {
  vec_adt<xstring> v;
  ASSERT_TRUE(v.ins_last(xstring("abcdef")));
  ASSERT_TRUE(v.set_first(xstring("abc")));
  xstring out;
  ASSERT_TRUE(v.get_first(&out));
  EXPECT_EQ(out.view(), "abc");
}

TEST(Vector, FloatSearchFollowsIeee) {
  vec_adt<double> v;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ASSERT_TRUE(v.ins_last(nan));
  ASSERT_TRUE(v.ins_last(-0.0));
  uint64_t i = 9;
  EXPECT_FALSE(v.get_index(nan, &i));
  ASSERT_TRUE(v.get_index(0.0, &i));
  EXPECT_EQ(i, 1u);
}

// Every element type: create, fill, read back with every word a vector
// answers, describe.
TEST(Vector, EveryElementType) {
  struct {
    const char* type;
    const char* a;
    const char* b;
    const char* a_text;  // how a prints
  } types[] = {
      {"i08", "-5", "300", "-5"},
      {"i16", "-30000", "7", "-30000"},
      {"i32", "-2147483648", "0x10", "-2147483648"},
      {"i64", "-9223372036854775808", "1", "-9223372036854775808"},
      {"u08", "255", "0", "255"},
      {"u16", "65535", "1", "65535"},
      {"u32", "4294967295", "2", "4294967295"},
      {"u64", "18446744073709551615", "3", "18446744073709551615"},
      {"float", "0.5", "-1", "0.500000000"},
      {"double", "1.5", "2", "1.50000000000000000"},
      {"date", "2024-02-29", "1999-12-31", "2024-02-29"},
      {"time", "23:59:59.5", "00:00:00", "23:59:59.5"},
      {"datetime", "2024-01-02T03:04:05.000000001", "2000-01-01_00:00:00", "2024-01-02 03:04:05.000000001"},
      {"string", "\"h\\u00e9 llo\"", "x", "h\xC3\xA9 llo"},
  };
  for (const auto& ty : types) {
    SCOPED_TRACE(ty.type);
    test_store t;
    ASSERT_TRUE(t.ok(std::string("c vector ") + ty.type + " v"));
    ASSERT_TRUE(t.ok(std::string("i \"v\" last ") + ty.b));
    ASSERT_TRUE(t.ok(std::string("i \"v\" first ") + ty.a));
    ASSERT_TRUE(t.ok(std::string("i \"v\" nth 3 ") + ty.a));  // position = size + 1 appends
    EXPECT_EQ(t.col("g 0 count"), strings{"3"});
    const auto all = t.col("g 0 all");
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], ty.a_text);
    EXPECT_EQ(all[2], ty.a_text);
    EXPECT_EQ(t.col("g 0 first"), strings{ty.a_text});
    EXPECT_EQ(t.col("g 0 last"), strings{ty.a_text});
    EXPECT_EQ(t.col("g 0 nth 2"), strings{all[1]});
    EXPECT_EQ(t.col(std::string("g 0 index ") + ty.b), strings{"1"});
    EXPECT_EQ(t.col("g 0 range 2 3"), (strings{all[1], ty.a_text}));
    EXPECT_EQ(t.col("g 0 first_n 1"), strings{ty.a_text});
    EXPECT_EQ(t.col("g 0 last_n 2"), (strings{all[1], ty.a_text}));
    EXPECT_EQ(t.col("g 0 key_type"), strings{ty.type});
    EXPECT_EQ(t.col("g 0 val_type"), strings{"u08"});
    EXPECT_EQ(t.col("g 0 con_type"), strings{"vector"});
    const auto d = t.run("k");
    ASSERT_TRUE(d);
    EXPECT_EQ(testing_util::cells_of(*d)[5], strings{ty.type});
    EXPECT_EQ(testing_util::cells_of(*d)[3], strings{"3"});
    // A typed column: the descriptor is the element type's.
    const auto g = t.run("g 0 all");
    EXPECT_EQ(g->cols[0].desc, desc_of(parse_type_name(ty.type)));
  }
}

}  // namespace
}  // namespace nosql_db
