// Literal parsers and type names: accepted forms, rejections, narrowing and
// saturation.
#include "lang/literal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace nosql_db {
namespace {

template <class T>
struct lit_case {
  std::string_view text;
  bool ok;
  T want;
};

template <class T>
void check(std::initializer_list<lit_case<T>> cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    T got{};
    ASSERT_EQ(parse_literal(c.text, &got), c.ok);
    if (c.ok) {
      EXPECT_EQ(got, c.want);
    }
  }
}

TEST(Literal, Integers) {
  check<uint32_t>({{"0x1F", true, 31}, {"0b101", true, 5}, {"017", true, 15}, {"15", true, 15},
                   {"09", true, 9}, {"0b12", true, 4}, {"+7", true, 7}, {"-1", false, 0},
                   {"12a", false, 0}, {"", true, 0}, {"0x", true, 0}, {" \t42", true, 42},
                   {"42 ", false, 0}, {"99999999999", true, UINT32_MAX}});
  check<int8_t>({{"-1", true, -1}, {"300", true, 44}, {"+7", true, 7}, {"12a", false, 0}, {"-", true, 0}});
  check<uint8_t>({{"-1", false, 0}, {"255", true, 255}, {"256", true, 0}});
  check<int16_t>({{"-32768", true, INT16_MIN}, {"40000", true, static_cast<int16_t>(40000)}});
  check<int32_t>({{"-2147483648", true, INT32_MIN}, {"2147483648", true, INT32_MAX},
                  {"-99999999999", true, INT32_MIN}, {"0X7fffffff", true, INT32_MAX}});
  check<int64_t>({{"-9223372036854775808", true, INT64_MIN}, {"9223372036854775808", true, INT64_MAX},
                  {"0xFFFFFFFFFFFFFFFFF", true, INT64_MAX}});
  check<uint64_t>({{"18446744073709551615", true, UINT64_MAX}, {"18446744073709551616", true, UINT64_MAX},
                   {"0x10", true, 16}, {"+", true, 0}, {"1 2", false, 0}});
}

TEST(Literal, FloatingPoint) {
  check<double>({{"1.5", true, 1.5}, {"-2e3", true, -2000.0}, {"0x1p4", true, 16.0}, {" 3", true, 3.0},
                 {"1.5x", false, 0}, {"", true, 0.0}, {"inf", true, INFINITY}});
  check<float>({{"0.25", true, 0.25f}, {"1e", false, 0}});
  double d = 0;
  ASSERT_TRUE(parse_literal<double>("nan", &d));
  EXPECT_TRUE(std::isnan(d));
  // A NUL byte inside the token cannot hide the rest of it.
  const std::string with_nul("1\0" "5", 3);
  EXPECT_FALSE(parse_literal<double>(with_nul, &d));
}

TEST(Literal, Calendar) {
  struct {
    std::string_view text;
    bool ok;
  } dates[] = {{"2023-02-29", false}, {"2024-02-29", true}, {"2000-02-29", true}, {"1900-02-29", false},
               {"2024-13-01", false}, {"2024-04-31", false}, {"2024-00-10", false}, {"2024-1-01", false},
               {"2024-01-01trailing", true}, {"", false}};
  for (const auto& c : dates) {
    SCOPED_TRACE(std::string(c.text));
    date d;
    EXPECT_EQ(parse_literal(c.text, &d), c.ok);
  }
  time t;
  ASSERT_TRUE(parse_literal<time>("23:59:59.123", &t));
  EXPECT_EQ(uint32_t{t.nanosecond}, 123000000u);
  ASSERT_TRUE(parse_literal<time>("00:00:00.123456789987", &t));
  EXPECT_EQ(uint32_t{t.nanosecond}, 123456789u);  // digits past nine are dropped
  EXPECT_FALSE(parse_literal<time>("24:00:00", &t));
  EXPECT_FALSE(parse_literal<time>("12:60:00", &t));
  date_time dt;
  EXPECT_TRUE(parse_literal<date_time>("2024-01-02T03:04:05", &dt));
  EXPECT_TRUE(parse_literal<date_time>("2024-01-02_03:04:05", &dt));
  EXPECT_EQ(int{dt.day}, 2);
  EXPECT_EQ(int{dt.second}, 5);
  EXPECT_FALSE(parse_literal<date_time>("2024-01-0203:04:05", &dt));
  EXPECT_FALSE(parse_literal<date_time>("2024-01-02", &dt));
}

TEST(Literal, SizeArgumentWrapsAndGivesZeroForJunk) {
  EXPECT_EQ(parse_size_argument("16"), 16u);
  EXPECT_EQ(parse_size_argument("0x100"), 256u);
  EXPECT_EQ(parse_size_argument("-1"), 0u);
  EXPECT_EQ(parse_size_argument("12a"), 0u);
  EXPECT_EQ(parse_size_argument(""), 0u);
  EXPECT_EQ(parse_size_argument("18446744073709551617"), 1u);  // wraps modulo 2^64
}

TEST(TypeNames, TokensAndDescriptors) {
  struct {
    std::string_view tok;
    scalar want;
  } cases[] = {{"i08", scalar::i08}, {"ix8", scalar::i08}, {"u64", scalar::u64}, {"u07", scalar::none},
               {"float", scalar::f32}, {"fxx", scalar::f32}, {"double", scalar::f64}, {"date", scalar::date},
               {"datetime", scalar::datetime}, {"dat", scalar::none}, {"time", scalar::time},
               {"string", scalar::string}, {"st", scalar::none}, {"x32", scalar::none}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.tok));
    EXPECT_EQ(parse_type_name(c.tok), c.want);
  }
  // Every type's descriptor names it again.
  for (int i = 0; i < 14; ++i) {
    const auto s = static_cast<scalar>(i);
    EXPECT_EQ(parse_type_name(type_name(desc_of(s))), s);
    EXPECT_EQ(scalar_of(desc_of(s)), s);
  }
  EXPECT_EQ(type_name(type_desc{5, 2, 6}), "");
  EXPECT_EQ(scalar_of(type_desc{5, 2, 6}), scalar::none);
}

}  // namespace
}  // namespace nosql_db
