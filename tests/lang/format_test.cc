// Text forms of cell values and UTF-8 display widths.
#include "lang/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "api/print.h"
#include "lang/result_set.h"

namespace nosql_db {
namespace {

template <class T>
std::string text_of(const T& v) {
  datas_col col;
  col.desc = scalar_traits<T>::desc;
  append_value(col, v);
  xstring out;
  format_cell(col.desc, col.cells[0].value, col.cells[0].text(), &out);
  return std::string(out.view());
}

TEST(Format, Values) {
  EXPECT_EQ(text_of<int8_t>(-128), "-128");
  EXPECT_EQ(text_of<uint8_t>(255), "255");
  EXPECT_EQ(text_of<int64_t>(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(text_of<uint64_t>(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(text_of<double>(1.5), "1.50000000000000000");
  EXPECT_EQ(text_of<float>(0.5f), "0.500000000");
  EXPECT_EQ(text_of<float>(-1e38f).size(), 49u);  // cut to the float buffer
  EXPECT_EQ(text_of<double>(-INFINITY), "-inf");
  EXPECT_EQ(text_of(date{2024, 3, 9}), "2024-03-09");
  EXPECT_EQ(text_of(date{5, 1, 1}), "0005-01-01");
  EXPECT_EQ(text_of(time{12, 0, 1, 500000000}), "12:00:01.5");
  EXPECT_EQ(text_of(time{12, 0, 1, 1}), "12:00:01.000000001");
  EXPECT_EQ(text_of(time{7, 8, 9, 0}), "07:08:09");
  EXPECT_EQ(text_of(date_time{2024, 1, 2, 3, 4, 5, 0}), "2024-01-02 03:04:05");
  EXPECT_EQ(text_of(xstring("a b")), "a b");
  xstring hex;
  hex_text(26, &hex);
  EXPECT_EQ(hex.view(), "0x1a");
}

TEST(Format, Utf8Width) {
  struct {
    std::string_view text;
    uint64_t want;
  } cases[] = {{"abc", 3},
               {"\xC3\xA9", 2},
               {"\xE4\xB8\xAD", 2},
               {"\xF0\x9F\x98\x80", 2},
               {"a\x01" "b", 2},
               {"\x7F", 0},
               {"ab\xFF" "cd", 2},
               {"a\xC3", 1},
               {"a\xC3" "b", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(utf8_width(c.text), c.want);
  }
}

}  // namespace
}  // namespace nosql_db
