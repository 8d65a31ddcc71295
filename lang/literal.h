// Literal parsers: command tokens to typed values.
//
// Every parser reads only the token's own bytes (tokens are not
// zero-terminated), returns false when the token breaks its rule, and then
// leaves *out untouched.
#pragma once

#include <cstdint>
#include <string_view>

#include "lang/scalar.h"

namespace nosql_db {

// Integer parsers of the four widths: optional white space, sign, base
// prefix (0x, 0b, 0 for octal), digits; the parse must end at the token's
// end. Overflow saturates (signed) or gives all ones (unsigned).
bool parse_i32(std::string_view tok, int32_t* out) noexcept;
bool parse_i64(std::string_view tok, int64_t* out) noexcept;
bool parse_u32(std::string_view tok, uint32_t* out) noexcept;
bool parse_u64(std::string_view tok, uint64_t* out) noexcept;

bool parse_f32(std::string_view tok, float* out) noexcept;
bool parse_f64(std::string_view tok, double* out) noexcept;
bool parse_date(std::string_view tok, date* out) noexcept;
bool parse_time(std::string_view tok, time* out) noexcept;
bool parse_datetime(std::string_view tok, date_time* out) noexcept;

// A date or time from its fields, checked as the literals are (year 0 to
// 9999, a real day of the month; hour, minute and second in range, at most
// 999,999,999 ns); false, *out untouched, otherwise.
bool make_date(uint32_t year, uint32_t month, uint32_t day, date* out) noexcept;
bool make_time(uint32_t hour, uint32_t minute, uint32_t second, uint32_t nanosecond, time* out) noexcept;

// The bucket-count rule: unsigned, wrapping, 0 for anything that is not a
// whole number.
uint64_t parse_size_argument(std::string_view tok) noexcept;

// The literal parser of T. i08, i16, u08 and u16 keep the low bits of the
// 32-bit result; strings take the bytes as they stand and never fail
// (except for memory exhaustion, which throws).
template <class T>
bool parse_literal(std::string_view tok, T* out) {
  if constexpr (std::is_same_v<T, int64_t>) {
    return parse_i64(tok, out);
  } else if constexpr (std::is_same_v<T, uint64_t>) {
    return parse_u64(tok, out);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    int32_t v;
    if (!parse_i32(tok, &v)) return false;
    *out = static_cast<T>(v);
    return true;
  } else if constexpr (std::is_integral_v<T>) {
    uint32_t v;
    if (!parse_u32(tok, &v)) return false;
    *out = static_cast<T>(v);
    return true;
  } else if constexpr (std::is_same_v<T, float>) {
    return parse_f32(tok, out);
  } else if constexpr (std::is_same_v<T, double>) {
    return parse_f64(tok, out);
  } else if constexpr (std::is_same_v<T, date>) {
    return parse_date(tok, out);
  } else if constexpr (std::is_same_v<T, time>) {
    return parse_time(tok, out);
  } else if constexpr (std::is_same_v<T, date_time>) {
    return parse_datetime(tok, out);
  } else {
    static_assert(std::is_same_v<T, xstring>);
    out->assign(tok.data(), tok.size());
    return true;
  }
}

}  // namespace nosql_db
