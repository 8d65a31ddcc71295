// The fourteen scalar types: calendar records, type descriptors, type names,
// element ordering, default values, and the one runtime-type visitor.
//
// Everything that turns a runtime type into typed code goes through
// visit_scalar(); no other module switches over the fourteen types.
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>

#include "lang/xstring.h"

namespace nosql_db {

#pragma pack(push, 1)
struct date {
  uint16_t year = 2020;
  uint8_t month = 10;
  uint8_t day = 16;
};
struct time {
  uint8_t hour = 17;
  uint8_t minute = 34;
  uint8_t second = 36;
  uint32_t nanosecond = 0;
};
struct date_time {
  uint16_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 0;
  uint32_t nanosecond = 0;
};
#pragma pack(pop)
static_assert(sizeof(date) == 4 && sizeof(time) == 7 && sizeof(date_time) == 11);

// The class codes of a type descriptor; none is the class of no type.
// DO NOT RENUMBER: they are part of the dump file and the result set
// interface.
enum class type_class : uint8_t { integer = 0, floating = 1, string = 2, date = 3, time = 4, datetime = 5, none = 6 };
constexpr uint8_t class_code(type_class c) noexcept { return static_cast<uint8_t>(c); }

// Type descriptor: size code, sign code, class code.
// DO NOT CHANGE THESE VALUES: they are part of the dump file and the result
// set interface.
struct type_desc {
  uint8_t size = 5;
  uint8_t sign = 2;
  uint8_t cls = class_code(type_class::none);
  friend bool operator==(type_desc, type_desc) = default;
};
inline constexpr type_desc no_type_desc{5, 2, class_code(type_class::none)};

// The scalar types in the library's fixed order, as
// X(tag, C++ type, type name, size code, sign code, class, extra...): any
// arguments after X are handed on to every call.
#define NOSQL_FOR_EACH_SCALAR(X, ...)                                                    \
  X(i08, int8_t, "i08", 0, 0, integer __VA_OPT__(, ) __VA_ARGS__)                        \
  X(i16, int16_t, "i16", 1, 0, integer __VA_OPT__(, ) __VA_ARGS__)                       \
  X(i32, int32_t, "i32", 2, 0, integer __VA_OPT__(, ) __VA_ARGS__)                       \
  X(i64, int64_t, "i64", 3, 0, integer __VA_OPT__(, ) __VA_ARGS__)                       \
  X(u08, uint8_t, "u08", 0, 1, integer __VA_OPT__(, ) __VA_ARGS__)                       \
  X(u16, uint16_t, "u16", 1, 1, integer __VA_OPT__(, ) __VA_ARGS__)                      \
  X(u32, uint32_t, "u32", 2, 1, integer __VA_OPT__(, ) __VA_ARGS__)                      \
  X(u64, uint64_t, "u64", 3, 1, integer __VA_OPT__(, ) __VA_ARGS__)                      \
  X(f32, float, "float", 2, 2, floating __VA_OPT__(, ) __VA_ARGS__)                      \
  X(f64, double, "double", 3, 2, floating __VA_OPT__(, ) __VA_ARGS__)                    \
  X(date, ::nosql_db::date, "date", 5, 2, date __VA_OPT__(, ) __VA_ARGS__)               \
  X(time, ::nosql_db::time, "time", 5, 2, time __VA_OPT__(, ) __VA_ARGS__)               \
  X(datetime, ::nosql_db::date_time, "datetime", 5, 2, datetime __VA_OPT__(, ) __VA_ARGS__) \
  X(string, ::nosql_db::xstring, "string", 4, 2, string __VA_OPT__(, ) __VA_ARGS__)

enum class scalar : uint8_t {
#define NOSQL_SCALAR_ENUMERATOR(tag, ...) tag,
  NOSQL_FOR_EACH_SCALAR(NOSQL_SCALAR_ENUMERATOR) none
#undef NOSQL_SCALAR_ENUMERATOR
};

// The integer types alone (the key types of the hash kinds), as
// X(tag, C++ type).
#define NOSQL_FOR_EACH_INTEGER_SCALAR(X) NOSQL_FOR_EACH_SCALAR(NOSQL_INTEGER_ROW, X)
#define NOSQL_INTEGER_ROW(tag, T, name, sz, sg, cl, X) NOSQL_IF_INTEGER_##cl(X)(tag, T)
#define NOSQL_IF_INTEGER_integer(X) X
#define NOSQL_IF_INTEGER_floating(X) NOSQL_SKIP_ROW
#define NOSQL_IF_INTEGER_date(X) NOSQL_SKIP_ROW
#define NOSQL_IF_INTEGER_time(X) NOSQL_SKIP_ROW
#define NOSQL_IF_INTEGER_datetime(X) NOSQL_SKIP_ROW
#define NOSQL_IF_INTEGER_string(X) NOSQL_SKIP_ROW
#define NOSQL_SKIP_ROW(...)

// X(K, V) for every value type V, for classes built per key and value type.
// Inside the X of a loop over key types use NOSQL_FOR_EACH_VALUE_LATER and
// wrap that loop in NOSQL_EXPAND: a macro cannot expand within its own
// expansion, so the inner loop waits for the one more pass NOSQL_EXPAND
// makes over the outer loop's output.
#define NOSQL_FOR_EACH_VALUE(K, X) NOSQL_FOR_EACH_SCALAR(NOSQL_VALUE_ROW, X, K)
#define NOSQL_FOR_EACH_VALUE_LATER(K, X) NOSQL_DEFER(NOSQL_FOR_EACH_SCALAR_AGAIN)()(NOSQL_VALUE_ROW, X, K)
#define NOSQL_VALUE_ROW(tag, V, name, sz, sg, cl, X, K) X(K, V)
#define NOSQL_FOR_EACH_SCALAR_AGAIN() NOSQL_FOR_EACH_SCALAR
#define NOSQL_EMPTY()
#define NOSQL_DEFER(m) m NOSQL_EMPTY()
#define NOSQL_EXPAND(...) __VA_ARGS__

template <class T>
struct type_tag {
  using type = T;
};

template <class T>
struct scalar_traits;
#define NOSQL_TRAITS(tag, T, name_, sz, sg, cl)                          \
  template <>                                                            \
  struct scalar_traits<T> {                                              \
    static constexpr scalar id = scalar::tag;                            \
    static constexpr std::string_view name = name_;                      \
    static constexpr type_desc desc{sz, sg, class_code(type_class::cl)}; \
  };
NOSQL_FOR_EACH_SCALAR(NOSQL_TRAITS)
#undef NOSQL_TRAITS

template <class T>
inline constexpr bool is_integer_v = std::is_integral_v<T>;
template <class T>
inline constexpr bool is_float_v = std::is_floating_point_v<T>;

// Calls f(type_tag<T>{}) for the C++ type of s; returns fallback for
// scalar::none or any value outside the enumeration (s may come from a file).
template <class R, class F>
R visit_scalar(scalar s, R fallback, F&& f) {
  switch (s) {
#define NOSQL_VISIT(tag, T, ...) \
  case scalar::tag:              \
    return f(type_tag<T>{});
    NOSQL_FOR_EACH_SCALAR(NOSQL_VISIT)
#undef NOSQL_VISIT
    default:
      return fallback;
  }
}

// Descriptor <-> scalar. scalar_of() gives scalar::none for a descriptor
// that is not one of the fourteen.
scalar scalar_of(type_desc d) noexcept;
type_desc desc_of(scalar s) noexcept;

// The type name of a descriptor; empty for a class code above datetime's. Sizes and
// signs are read the lenient way the describe command reads them.
std::string_view type_name(type_desc d) noexcept;

// The type named by a type-name token of the create command (first byte,
// third byte and length rules); scalar::none when it names no type.
scalar parse_type_name(std::string_view tok) noexcept;

// Element ordering shared by every kind that compares elements.
// less(): strict order; NaN is unordered. same(): "neither is less", which
// is IEEE equality for floats except that it also holds for NaN vs anything
// (callers that store keys in an order refuse NaN first).
inline int compare_keys(const xstring& a, const xstring& b) noexcept { return compare_bytes(a.view(), b.view()); }
inline bool less(const date& a, const date& b) noexcept {
  if (a.year != b.year) return a.year < b.year;
  if (a.month != b.month) return a.month < b.month;
  return a.day < b.day;
}
inline bool less(const time& a, const time& b) noexcept {
  if (a.hour != b.hour) return a.hour < b.hour;
  if (a.minute != b.minute) return a.minute < b.minute;
  if (a.second != b.second) return a.second < b.second;
  return a.nanosecond < b.nanosecond;
}
inline bool less(const date_time& a, const date_time& b) noexcept {
  if (a.year != b.year) return a.year < b.year;
  if (a.month != b.month) return a.month < b.month;
  if (a.day != b.day) return a.day < b.day;
  if (a.hour != b.hour) return a.hour < b.hour;
  if (a.minute != b.minute) return a.minute < b.minute;
  if (a.second != b.second) return a.second < b.second;
  return a.nanosecond < b.nanosecond;
}
inline bool less(const xstring& a, const xstring& b) noexcept { return compare_keys(a, b) < 0; }
template <class T>
  requires std::is_arithmetic_v<T>
inline bool less(T a, T b) noexcept {
  return a < b;
}

// Equality as element search uses it: IEEE for floats (NaN equals
// nothing), field by field for calendar records, bytes for strings.
inline bool equal(const date& a, const date& b) noexcept {
  return a.year == b.year && a.month == b.month && a.day == b.day;
}
inline bool equal(const time& a, const time& b) noexcept {
  return a.hour == b.hour && a.minute == b.minute && a.second == b.second && a.nanosecond == b.nanosecond;
}
inline bool equal(const date_time& a, const date_time& b) noexcept {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && a.nanosecond == b.nanosecond;
}
inline bool equal(const xstring& a, const xstring& b) noexcept { return a == b; }
template <class T>
  requires std::is_arithmetic_v<T>
inline bool equal(T a, T b) noexcept {
  return a == b;
}

// True for a floating-point NaN; false for every other value and type.
template <class T>
inline bool is_nan(const T& v) noexcept {
  if constexpr (is_float_v<T>) return v != v;
  else return false;
}

// The default value of each type: 0, the empty string, 2020-10-16,
// 17:34:36, and the all-zero datetime (the records' member initialisers).
template <class T>
inline T default_value() {
  return T{};
}

}  // namespace nosql_db
