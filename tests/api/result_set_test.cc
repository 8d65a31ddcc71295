// The exported accessors and print(), read through the C interface.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "api/print.h"
#include "lang/format.h"
#include "lang/result_set.h"
#include "api/vox_nosql.h"

namespace nosql_db {
namespace {

TEST(ResultSet, NullAndOutOfRange) {
  EXPECT_EQ(cols_of(nullptr), 0u);
  EXPECT_EQ(rows_of(nullptr), 0u);
  EXPECT_EQ(col_of(nullptr, 0), nullptr);
  uint32_t len = 77;
  EXPECT_EQ(col_name(&len, nullptr, 0), nullptr);
  EXPECT_EQ(len, 77u);
  EXPECT_EQ(at(0, 0, nullptr), nullptr);
  print(nullptr);
  del_datas(nullptr);

  datas d;
  add_column(&d, "name", scalar_traits<int32_t>::desc);
  EXPECT_EQ(rows_of(&d), 0u);
  EXPECT_EQ(at(0, 0, &d), nullptr);
  EXPECT_EQ(col_of(&d, -1), nullptr);
  EXPECT_EQ(col_of(&d, 1), nullptr);
  EXPECT_EQ(col_name(&len, &d, -1), nullptr);
  ASSERT_NE(col_name(&len, &d, 0), nullptr);
  EXPECT_EQ(len, 4u);
  EXPECT_STREQ(col_name(&len, &d, 0), "name");
  // A column without a type.
  d.cols.emplace_back();
  EXPECT_EQ(val_type(col_of(&d, 1)), -1);
  EXPECT_EQ(val_size(col_of(&d, 1)), 8u);
  EXPECT_EQ(val_sign(col_of(&d, 1)), 1);
}


TEST(ResultSet, TypedCellsReadBack) {
  datas d;
  append_value(add_column(&d, "i", scalar_traits<int16_t>::desc), int16_t{-2});
  append_value(add_column(&d, "dt", scalar_traits<date_time>::desc), date_time{2024, 5, 6, 7, 8, 9, 10});
  append_value(add_column(&d, "s", scalar_traits<xstring>::desc), xstring(""));
  append_value(add_column(&d, "t", scalar_traits<time>::desc), time{1, 2, 3, 4});
  ASSERT_EQ(cols_of(&d), 4u);
  EXPECT_EQ(val_size(col_of(&d, 0)), 2u);
  EXPECT_EQ(val_sign(col_of(&d, 0)), 0);
  EXPECT_EQ(as_int16(at(0, 0, &d)), -2);
  EXPECT_EQ(as_uint16(at(0, 0, &d)), 0xFFFE);
  uint32_t y, mo, da, h, mi, s, ns;
  as_datetime(&y, &mo, &da, &h, &mi, &s, &ns, at(0, 1, &d));
  EXPECT_EQ(y * 10000 + mo * 100 + da, 20240506u);
  EXPECT_EQ(h * 10000 + mi * 100 + s, 70809u);
  EXPECT_EQ(ns, 10u);
  as_time(&h, &mi, &s, &ns, at(0, 1, &d));  // a datetime cell gives its time
  EXPECT_EQ(s, 9u);
  as_date(&y, &mo, &da, at(0, 1, &d));
  EXPECT_EQ(da, 6u);
  as_time(&h, &mi, &s, &ns, at(0, 3, &d));
  EXPECT_EQ(h * 1000 + mi * 100 + s * 10 + ns, 1234u);
  char* p = nullptr;
  uint64_t n = 99;
  as_str(&p, &n, at(0, 2, &d));
  EXPECT_EQ(n, 0u);
  std::free(p);
  const std::string big(70000, 'x');  // long texts keep every byte
  append_text(add_column(&d, "big", scalar_traits<xstring>::desc), big);
  as_str(&p, &n, at(0, 4, &d));
  EXPECT_EQ(std::string(p, n), big);
  std::free(p);
}

std::string render(const datas& d) {
  xstring out;
  render_table(d, &out);
  return std::string(out.view());
}

// The tables of docs/commands.md are checked by Docs.ExamplesPrintWhatTheyShow;
// here a text with a byte that is not UTF-8, no column at all, and a table
// too large for one write.
TEST(Print, Tables) {
  datas wide;
  auto& c = add_column(&wide, "x", scalar_traits<xstring>::desc);
  append_text(c, "\xC3\xA9\xC3\xA9");  // two wide characters: width 4
  append_text(c, "ab\xFF" "cdef");     // measured up to the bad byte: width 2
  EXPECT_EQ(render(wide), "\n|--x---| \n| \xC3\xA9\xC3\xA9 |\n| ab\xFF" "cdef   |\n");

  datas none;
  EXPECT_EQ(render(none), "");

  // print() writes a large table whole.
  datas large;
  auto& n = add_column(&large, "n", scalar_traits<int32_t>::desc);
  for (int32_t i = 0; i < 5000; ++i) append_value(n, i);
  testing::internal::CaptureStdout();
  print(&large);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), render(large));
}

// Columns are as wide as their widest text in display cells of UTF-8.
TEST(Print, Utf8Width) {
  const std::pair<std::string_view, uint64_t> cases[] = {
      {"abc", 3},     {"\xC3\xA9", 2}, {"\xE4\xB8\xAD", 2},      {"\xF0\x9F\x98\x80", 2}, {"a\x01" "b", 2},
      {"\x7F", 0},    {"ab\xFF", 2},   {"a\xC3", 1},            {"a\xC3" "b", 1}};
  for (const auto& [text, want] : cases) EXPECT_EQ(utf8_width(text), want) << text;
}

}  // namespace
}  // namespace nosql_db
