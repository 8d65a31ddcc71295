// vox_nosql.hpp: the C++ interface of libvox_nosql_lib_local_mem, header-only
// over the C functions of vox_nosql.h. Needs C++17; under C++20 dates and
// times also read and write as std::chrono calendar types.
//
//   vox::put("users", name, "admin");                    // any bytes in name
//   vox::result r = vox::runf("g {} value {}", "users", name);
//   if (!r) { /* the command failed; r.error().text says why */ }
//   for (vox::row row : r) std::optional<std::string> v = row[0].get<std::string>();
//
// - vox::quote(bytes) makes one quoted word that the command tokenizer reads
//   back as exactly those bytes. vox::command(format, args...) builds a line
//   in which every "{}" stands for one argument: strings are quoted, numbers
//   and dates written as literals, so host data is always data and never
//   becomes another word, another container or another command.
// - vox::result owns one result set and frees it (move-only). Typed reads
//   answer std::nullopt, never garbage, when the column holds another type.
//   A failed result carries the reason, vox::error.
// - Nothing here throws, except std::bad_alloc from std::string. Every
//   function may be called from any thread, as the C functions may.
#ifndef VOX_NOSQL_HPP
#define VOX_NOSQL_HPP

#if __cplusplus < 201703L
#error "vox_nosql.hpp needs C++17 or later"
#endif

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "vox_nosql.h"

// VOX_NOSQL_CHRONO is 1 when the std::chrono calendar types are supported.
#ifndef VOX_NOSQL_CHRONO
#if __cplusplus >= 202002L
#define VOX_NOSQL_CHRONO 1
#else
#define VOX_NOSQL_CHRONO 0
#endif
#endif
#if VOX_NOSQL_CHRONO
#include <chrono>
#endif
// VOX_NOSQL_SPAN is 1 when std::span is there for reading columns in bulk.
#ifndef VOX_NOSQL_SPAN
#if __cplusplus >= 202002L && __has_include(<span>)
#define VOX_NOSQL_SPAN 1
#else
#define VOX_NOSQL_SPAN 0
#endif
#endif
#if VOX_NOSQL_SPAN
#include <span>
#endif

namespace vox {

// exec() takes the line's length as an int32_t.
inline constexpr std::size_t max_line_bytes = std::numeric_limits<std::int32_t>::max();

// The type of a column (val_type of the C interface).
enum class value_type : int { none = -1, integer = 0, floating = 1, string = 2, date = 3, time = 4, datetime = 5 };

// Calendar values as the store keeps them, for every C++ version.
struct date {
  int year = 0;
  unsigned month = 0, day = 0;
};
struct time_of_day {
  unsigned hour = 0, minute = 0, second = 0;
  std::uint32_t nanosecond = 0;
};
struct date_time {
  vox::date date;
  time_of_day time;
};

// Why a command failed: last_error() of the C interface. code is one of the
// VOX_E_* constants of vox_nosql.h (VOX_E_NONE: no failure), text its
// constant English text, detail "" or more about it (the type an argument
// must have, the kind that lacks a word, the damaged field of a dump file),
// record the index of the damaged record of a dump file. The texts are
// constant and live as long as the process.
struct error {
  std::int32_t code = VOX_E_NONE;
  std::string_view text = "no failure";
  std::string_view detail;
  std::uint64_t record = 0;
  explicit operator bool() const noexcept { return code != VOX_E_NONE; }
};

// The reason for the calling thread's last exec(); VOX_E_NONE after a success.
inline error last_error() noexcept {
  const char* text = "";
  const char* detail = "";
  std::uint64_t record = 0;
  const std::int32_t code = ::last_error(&text, &detail, &record);
  return {code, text, detail, record};
}

// One double-quoted word that the tokenizer decodes to exactly `bytes`:
// backslash and double quote are escaped, bytes below 0x20 and 0x7f are
// written as \xHH (so the line holds no line feed and no NUL), every other
// byte stands as it is.
inline std::string quote(std::string_view bytes) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() + 2);
  out += '"';
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += ch;
    } else if (b < 0x20 || b == 0x7f) {
      out += "\\x";
      out += hex[b >> 4];
      out += hex[b & 15];
    } else {
      out += ch;
    }
  }
  out += '"';
  return out;
}

namespace detail {

template <class>
inline constexpr bool unsupported = false;

template <class T>
inline constexpr bool is_text = std::is_convertible_v<const T&, std::string_view>;

#if VOX_NOSQL_CHRONO
template <class T>
struct is_hh_mm_ss : std::false_type {};
template <class D>
struct is_hh_mm_ss<std::chrono::hh_mm_ss<D>> : std::true_type {};
template <class T>
struct is_time_point : std::false_type {};
template <class D>
struct is_time_point<std::chrono::time_point<std::chrono::system_clock, D>> : std::true_type {};
template <class D>
struct is_time_point<std::chrono::local_time<D>> : std::true_type {};

inline date from_chrono(const std::chrono::year_month_day& d) {
  return {static_cast<int>(d.year()), static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day())};
}
inline std::optional<time_of_day> from_chrono(std::chrono::nanoseconds since_midnight) {
  using namespace std::chrono;
  if (since_midnight < nanoseconds::zero() || since_midnight >= days(1)) return std::nullopt;
  const hh_mm_ss<nanoseconds> t(since_midnight);
  return time_of_day{static_cast<unsigned>(t.hours().count()), static_cast<unsigned>(t.minutes().count()),
                     static_cast<unsigned>(t.seconds().count()), static_cast<std::uint32_t>(t.subseconds().count())};
}
inline std::chrono::year_month_day to_chrono(const date& d) {
  return std::chrono::year_month_day{std::chrono::year{d.year}, std::chrono::month{d.month}, std::chrono::day{d.day}};
}
inline std::chrono::nanoseconds to_chrono(const time_of_day& t) {
  using namespace std::chrono;
  return hours(t.hour) + minutes(t.minute) + seconds(t.second) + nanoseconds(t.nanosecond);
}
#endif

// Literal texts of the calendar types; false when a field is out of range.
inline bool append_date(std::string& out, const date& d) {
  if (d.year < 0 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) return false;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", d.year, d.month, d.day);
  out += buf;
  return true;
}
inline bool append_time(std::string& out, const time_of_day& t) {
  if (t.hour > 23 || t.minute > 59 || t.second > 59 || t.nanosecond > 999999999u) return false;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", t.hour, t.minute, t.second);
  out += buf;
  if (t.nanosecond != 0) {
    std::snprintf(buf, sizeof buf, ".%09u", static_cast<unsigned>(t.nanosecond));
    std::string_view frac(buf);
    while (frac.back() == '0') frac.remove_suffix(1);
    out += frac;
  }
  return true;
}

template <class T>
void append_number(std::string& out, T v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

// One argument of command(): its word, whether it is an empty quoted word,
// and whether it could be written at all.
struct word {
  std::string text;
  bool empty_string = false;
  bool ok = true;
};

template <class T>
word make_word(const T& v) {
  word w;
  if constexpr (is_text<T>) {
    const std::string_view s(v);
    w.text = quote(s);
    w.empty_string = s.empty();
  } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, char>) {
    static_assert(unsupported<T>, "pass text as a string and truth values as 0 or 1");
  } else if constexpr (std::is_integral_v<T> || std::is_floating_point_v<T>) {
    append_number(w.text, v);
  } else if constexpr (std::is_same_v<T, date>) {
    w.ok = append_date(w.text, v);
  } else if constexpr (std::is_same_v<T, time_of_day>) {
    w.ok = append_time(w.text, v);
  } else if constexpr (std::is_same_v<T, date_time>) {
    w.ok = append_date(w.text, v.date);
    w.text += 'T';
    w.ok = w.ok && append_time(w.text, v.time);
#if VOX_NOSQL_CHRONO
  } else if constexpr (std::is_same_v<T, std::chrono::year_month_day>) {
    w.ok = v.ok() && append_date(w.text, from_chrono(v));
  } else if constexpr (is_hh_mm_ss<T>::value) {
    const auto t = from_chrono(std::chrono::duration_cast<std::chrono::nanoseconds>(v.to_duration()));
    w.ok = t && append_time(w.text, *t);
  } else if constexpr (is_time_point<T>::value) {
    const auto day = std::chrono::floor<std::chrono::days>(v);
    const auto t = from_chrono(std::chrono::duration_cast<std::chrono::nanoseconds>(v - day));
    w.ok = t && append_date(w.text, from_chrono(std::chrono::year_month_day(day)));
    w.text += 'T';
    w.ok = w.ok && append_time(w.text, *t);
#endif
  } else {
    static_assert(unsupported<T>, "command() takes strings, numbers, dates and times");
  }
  return w;
}

template <class T>
std::optional<T> fit(std::int64_t v) {
  if constexpr (std::is_signed_v<T>) {
    if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) return std::nullopt;
  } else {
    if (v < 0 || static_cast<std::uint64_t>(v) > std::numeric_limits<T>::max()) return std::nullopt;
  }
  return static_cast<T>(v);
}
template <class T>
std::optional<T> fit(std::uint64_t v) {
  if (v > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return std::nullopt;
  return static_cast<T>(v);
}

}  // namespace detail

// Builds a command line from a format whose every "{}" is replaced by one
// word made from the next argument: a string (anything that converts to
// std::string_view) becomes a quoted word, an integer or floating-point
// number its shortest exact literal, a vox::date, vox::time_of_day or
// vox::date_time (under C++20 also std::chrono::year_month_day, hh_mm_ss and
// system or local time points) its literal. A string in the second place
// names a container by name, an integer there by vkey.
//
// The format holds the words of the language (command letter, sub-command
// and position words, kind and type names); the arguments hold the values.
// std::nullopt, rather than a line that means something else, when:
//   - the placeholders and arguments differ in number, a "{}" touches other
//     text, or the format itself holds a double quote;
//   - a "{}" stands for the command letter, the word of a get, set or delete
//     line, or the position word of a five-word insert;
//   - the container reference is an empty string (an empty quoted name means
//     vkey 0), or the key of a four-word insert is an empty string (the
//     insert would store the value as the key; use put());
//   - a number or date cannot be written as a literal, or the line is longer
//     than max_line_bytes.
template <class... A>
std::optional<std::string> command(std::string_view format, const A&... args) {
  const std::array<detail::word, sizeof...(A)> words{detail::make_word(args)...};
  std::string line;
  std::size_t next = 0, token = 0;
  bool in_word = false, arg_at_2 = false, empty_at_2 = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '{' && i + 1 < format.size() && format[i + 1] == '}') {
      if (in_word || (i + 2 < format.size() && format[i + 2] != ' ') || next == words.size()) return std::nullopt;
      const detail::word& w = words[next++];
      const bool word_place = token == 2 && (line[0] == 'g' || line[0] == 's' || line[0] == 'd');
      if (!w.ok || token == 0 || word_place || (w.empty_string && token == 1)) return std::nullopt;
      arg_at_2 = arg_at_2 || token == 2;
      empty_at_2 = empty_at_2 || (token == 2 && w.empty_string);
      line += w.text;
      ++token;
      ++i;
      continue;
    }
    if (c == '"') return std::nullopt;
    if (c == ' ') {
      token += in_word ? 1 : 0;
      in_word = false;
    } else {
      in_word = true;
    }
    line += c;
  }
  token += in_word ? 1 : 0;
  if (next != words.size() || line.size() > max_line_bytes) return std::nullopt;
  // Insert: the third word of five is the position word; an empty third
  // word of four would turn the value into the key.
  if (line[0] == 'i' && ((token == 5 && arg_at_2) || (token == 4 && empty_at_2))) return std::nullopt;
  return line;
}

// One cell of a result set: a column's type and the cell's value. A
// default-made cell (out of range) answers std::nullopt to every read.
class cell {
 public:
  cell() noexcept = default;
  cell(const datas_col* col, const datas_cell* c) noexcept : col_(col), c_(c) {}

  explicit operator bool() const noexcept { return c_ != nullptr; }
  value_type type() const noexcept { return c_ ? static_cast<value_type>(::val_type(col_)) : value_type::none; }

  // The value as T, or std::nullopt when the column holds another type:
  //   integer types: an integer column whose value fits T;
  //   float: a float column; double: a float or double column;
  //   std::string: a string column (every byte);
  //   vox::date, vox::time_of_day, vox::date_time: the matching column;
  //   C++20: std::chrono::year_month_day, std::chrono::hh_mm_ss<nanoseconds>
  //   and std::chrono::local_time<nanoseconds> likewise.
  template <class T>
  std::optional<T> get() const {
    const value_type t = type();
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
      if (t != value_type::integer) return std::nullopt;
      const bool sign = ::val_sign(col_) == 0;
      switch (::val_size(col_)) {
        case 1: return sign ? detail::fit<T>(std::int64_t{::as_int8(c_)}) : detail::fit<T>(std::uint64_t{::as_uint8(c_)});
        case 2: return sign ? detail::fit<T>(std::int64_t{::as_int16(c_)}) : detail::fit<T>(std::uint64_t{::as_uint16(c_)});
        case 4: return sign ? detail::fit<T>(std::int64_t{::as_int32(c_)}) : detail::fit<T>(std::uint64_t{::as_uint32(c_)});
        default: return sign ? detail::fit<T>(std::int64_t{::as_int64(c_)}) : detail::fit<T>(::as_uint64(c_));
      }
    } else if constexpr (std::is_floating_point_v<T>) {
      if (t != value_type::floating) return std::nullopt;
      if (::val_size(col_) == 4) return static_cast<T>(::as_float(c_));
      if constexpr (sizeof(T) < sizeof(double)) return std::nullopt;  // would lose digits
      else return static_cast<T>(::as_double(c_));
    } else if constexpr (std::is_same_v<T, std::string>) {
      if (t != value_type::string) return std::nullopt;
      char* p = nullptr;
      std::uint64_t n = 0;
      ::as_str(&p, &n, c_);
      std::optional<T> s;
      if (p || n == 0) s.emplace(p ? p : "", static_cast<std::size_t>(n));  // malloc(0) may give null
      std::free(p);
      return s;
    } else if constexpr (std::is_same_v<T, date>) {
      if (t != value_type::date) return std::nullopt;
      return read_date();
    } else if constexpr (std::is_same_v<T, time_of_day>) {
      if (t != value_type::time) return std::nullopt;
      return read_time();
    } else if constexpr (std::is_same_v<T, date_time>) {
      if (t != value_type::datetime) return std::nullopt;
      return date_time{read_date(), read_time()};
#if VOX_NOSQL_CHRONO
    } else if constexpr (std::is_same_v<T, std::chrono::year_month_day>) {
      if (t != value_type::date) return std::nullopt;
      return detail::to_chrono(read_date());
    } else if constexpr (std::is_same_v<T, std::chrono::hh_mm_ss<std::chrono::nanoseconds>>) {
      if (t != value_type::time) return std::nullopt;
      return T(detail::to_chrono(read_time()));
    } else if constexpr (std::is_same_v<T, std::chrono::local_time<std::chrono::nanoseconds>>) {
      if (t != value_type::datetime) return std::nullopt;
      return T(std::chrono::local_days(detail::to_chrono(read_date())) + detail::to_chrono(read_time()));
#endif
    } else {
      static_assert(detail::unsupported<T>, "get<T>() reads integers, floating point, std::string and dates");
    }
  }

  // The value as text: integers in decimal, floating point as the shortest
  // text that reads back exactly (inf, -inf, nan), strings as their bytes,
  // dates as 2024-03-09, times as 12:00:01.5, datetimes with a space between.
  // Empty for a missing cell or a column without a type.
  std::string text() const {
    std::string out;
    switch (type()) {
      case value_type::integer:
        if (::val_sign(col_) == 0) detail::append_number(out, *get<std::int64_t>());
        else detail::append_number(out, *get<std::uint64_t>());
        break;
      case value_type::floating:
        if (::val_size(col_) == 4) detail::append_number(out, ::as_float(c_));
        else detail::append_number(out, ::as_double(c_));
        break;
      case value_type::string: out = *get<std::string>(); break;
      case value_type::date: detail::append_date(out, read_date()); break;
      case value_type::time: detail::append_time(out, read_time()); break;
      case value_type::datetime:
        detail::append_date(out, read_date());
        out += ' ';
        detail::append_time(out, read_time());
        break;
      case value_type::none: break;
    }
    return out;
  }

 private:
  date read_date() const {
    std::uint32_t y = 0, m = 0, d = 0;
    ::as_date(&y, &m, &d, c_);
    return {static_cast<int>(y), m, d};
  }
  time_of_day read_time() const {
    std::uint32_t h = 0, m = 0, s = 0, ns = 0;
    ::as_time(&h, &m, &s, &ns, c_);
    return {h, m, s, ns};
  }

  const datas_col* col_ = nullptr;
  const datas_cell* c_ = nullptr;
};

// One row of a result set; valid while its result lives.
class row {
 public:
  row(const datas* d, std::size_t index) noexcept : d_(d), index_(index) {}
  std::size_t index() const noexcept { return index_; }
  std::size_t size() const noexcept { return static_cast<std::size_t>(::cols_of(d_)); }
  cell operator[](std::size_t col) const noexcept {
    const datas_cell* c = ::at(index_, col, d_);
    return c ? cell(::col_of(d_, static_cast<std::int32_t>(col)), c) : cell();
  }

 private:
  const datas* d_;
  std::size_t index_;
};

// Reads a result set that something else owns (a prepared statement's
// answer, or a vox::result). False when the command failed, and then
// error() says why. A success may have no columns (an insert, or a get that
// found nothing); a get that found an empty list has a column and no rows.
class result_view {
 public:
  result_view() noexcept = default;
  // Looks at d; made right after the call that returned d, on the same
  // thread, a failed view (null d) takes the thread's reason with it.
  explicit result_view(const datas* d) noexcept : d_(d) {
    if (!d_) error_ = vox::last_error();
  }
  // A failed answer for a reason of its own.
  explicit result_view(const vox::error& why) noexcept : error_(why) {}

  explicit operator bool() const noexcept { return d_ != nullptr; }
  // Why the command failed; code VOX_E_NONE for a success (and for a
  // default-made or moved-from result).
  const vox::error& error() const noexcept { return error_; }
  std::size_t columns() const noexcept { return static_cast<std::size_t>(::cols_of(d_)); }
  std::size_t rows() const noexcept { return static_cast<std::size_t>(::rows_of(d_)); }

  // The column's name (empty for the unnamed column of a get), or empty when
  // out of range.
  std::string_view name(std::size_t col) const noexcept {
    std::uint32_t n = 0;
    const char* p = col < columns() ? ::col_name(&n, d_, static_cast<std::int32_t>(col)) : nullptr;
    return p ? std::string_view(p, n) : std::string_view();
  }
  value_type type(std::size_t col) const noexcept {
    return col < columns() ? static_cast<value_type>(::val_type(::col_of(d_, static_cast<std::int32_t>(col))))
                           : value_type::none;
  }
  // The index of the first column named `n`, or std::nullopt.
  std::optional<std::size_t> column(std::string_view n) const noexcept {
    for (std::size_t i = 0; i < columns(); ++i)
      if (name(i) == n) return i;
    return std::nullopt;
  }
#if VOX_NOSQL_SPAN
  // Every value of a number column at once, as T: empty when the column
  // is out of range or does not hold exactly T (an i32 column is read as
  // std::int32_t, a u64 column as std::uint64_t, a double column as double).
  template <class T>
  std::span<const T> column(std::size_t col) const noexcept {
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>, "column<T>() reads numbers");
    if (col >= columns()) return {};
    const datas_col* c = ::col_of(d_, static_cast<std::int32_t>(col));
    const bool same = std::is_floating_point_v<T>
                          ? ::val_type(c) == 1
                          : ::val_type(c) == 0 && (::val_sign(c) == 0) == std::is_signed_v<T>;
    if (!same || ::val_size(c) != sizeof(T)) return {};
    std::uint64_t n = 0;
    const void* p = ::vox_col_values(c, &n);
    return p ? std::span<const T>(static_cast<const T*>(p), static_cast<std::size_t>(n)) : std::span<const T>();
  }
#endif
  cell at(std::size_t row, std::size_t col) const noexcept { return vox::row(d_, row)[col]; }
  vox::row operator[](std::size_t r) const noexcept { return vox::row(d_, r); }

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = vox::row;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = vox::row;
    iterator(const datas* d, std::size_t i) noexcept : d_(d), i_(i) {}
    vox::row operator*() const noexcept { return vox::row(d_, i_); }
    iterator& operator++() noexcept {
      ++i_;
      return *this;
    }
    iterator operator++(int) noexcept { return iterator(d_, i_++); }
    bool operator==(const iterator& o) const noexcept { return i_ == o.i_; }
    bool operator!=(const iterator& o) const noexcept { return i_ != o.i_; }

   private:
    const datas* d_;
    std::size_t i_;
  };
  iterator begin() const noexcept { return iterator(d_, 0); }
  iterator end() const noexcept { return iterator(d_, rows()); }

  // Writes the result set to standard output as a text table.
  void print() const { ::print(d_); }
  const datas* get() const noexcept { return d_; }

 protected:
  const datas* d_ = nullptr;
  vox::error error_;
};

// The answer of one exec(): a result_view that owns the result set and
// frees it. Move-only.
class result : public result_view {
 public:
  result() noexcept = default;
  // Takes what exec() returned; made right after that exec() on the same
  // thread, a failed result takes the thread's reason with it.
  explicit result(datas* d) noexcept : result_view(d) {}
  // A failed result for a reason of its own.
  explicit result(const vox::error& why) noexcept : result_view(why) {}
  result(result&& o) noexcept : result_view(o) { o.d_ = nullptr; }
  result& operator=(result&& o) noexcept {
    if (this != &o) {
      ::del_datas(owned());
      d_ = std::exchange(o.d_, nullptr);
      error_ = o.error_;
    }
    return *this;
  }
  result(const result&) = delete;
  result& operator=(const result&) = delete;
  ~result() { ::del_datas(owned()); }

  datas* release() noexcept { return const_cast<datas*>(std::exchange(d_, nullptr)); }

 private:
  // exec() handed the result set over, so the pointer is the host's to free.
  datas* owned() const noexcept { return const_cast<datas*>(d_); }
};

namespace detail {
inline result not_sent() {
  return result(error{VOX_E_NOT_SENT, "the line was not sent: it cannot be built or is too long", "", 0});
}
}  // namespace detail

// Runs one command line as it stands. A line longer than max_line_bytes is
// not sent: a failed result with the code VOX_E_NOT_SENT.
inline result run(std::string_view line) {
  if (line.size() > max_line_bytes) return detail::not_sent();
  return result(::exec(line.data(), static_cast<std::int32_t>(line.size())));
}

// Runs command(format, args...); a failed result with the code
// VOX_E_NOT_SENT when the line cannot be built.
template <class... A>
result runf(std::string_view format, const A&... args) {
  const std::optional<std::string> line = command(format, args...);
  return line ? run(*line) : detail::not_sent();
}

// Inserts key with value into a map, multimap or hashmap (the line
// i REF KEY VALUE) and says whether it was stored. When the library refused
// it, vox::last_error() tells why; put's own refusals (the multimap below,
// a value that cannot be written as a literal) leave no reason there.
//
// An empty string key needs two commands: in the four-word insert an empty
// quoted key counts as no key (i m "" 5 stores the key 5), so put() inserts
// the empty key with the default value (i REF "") and then sets its value
// (s REF value "" VALUE); another thread may see the default value in
// between. A multimap that already holds the empty key is refused, because
// the set would change every entry under it.
template <class R, class K, class V>
bool put(const R& container, const K& key, const V& value) {
  if constexpr (detail::is_text<K>) {
    if (std::string_view(key).empty()) {
      const std::string_view none;
      const result kind = runf("g {} con_type", container);
      if (!kind) return false;
      if (kind.at(0, 0).get<std::string>() == "multimap" &&
          runf("g {} equal {}", container, none).rows() != 0)
        return false;
      return runf("i {} {}", container, none) && runf("s {} value {} {}", container, none, value);
    }
  }
  return static_cast<bool>(runf("i {} {} {}", container, key, value));
}

// A get, set, insert or delete line prepared once and run many times, with
// ? for any literal word (see vox_prepare in vox_nosql.h). Move-only; the
// library's statement is finalized when the object goes, so it can be
// neither used after nor finalized twice.
//
//   vox::statement find("g \"ids\" equal ?");
//   find.bind(42);
//   vox::result_view r = find.run();            // valid until the next run()
//   for (std::int32_t k : r.column<std::int32_t>(0)) ...
class statement {
 public:
  statement() noexcept = default;
  // False (error() says why) when the line cannot be prepared.
  explicit statement(std::string_view line) noexcept {
    if (line.size() > max_line_bytes) {
      error_ = {VOX_E_NOT_SENT, "the line was not sent: it cannot be built or is too long", "", 0};
      return;
    }
    s_ = ::vox_prepare(line.data(), static_cast<std::int32_t>(line.size()));
    if (!s_) error_ = vox::last_error();
  }
  statement(statement&& o) noexcept : s_(std::exchange(o.s_, nullptr)), error_(o.error_) {}
  statement& operator=(statement&& o) noexcept {
    if (this != &o) {
      ::vox_finalize(s_);
      s_ = std::exchange(o.s_, nullptr);
      error_ = o.error_;
    }
    return *this;
  }
  statement(const statement&) = delete;
  statement& operator=(const statement&) = delete;
  ~statement() { ::vox_finalize(s_); }

  explicit operator bool() const noexcept { return s_ != nullptr; }
  // Why the last prepare or bind failed.
  const vox::error& error() const noexcept { return error_; }
  int placeholders() const noexcept { return ::vox_placeholder_count(s_); }

  // Binds the arguments to placeholders 1, 2, ... in order; false at the
  // first that does not fit its place (error() says why). Integers,
  // floating point, strings, vox::date, vox::time_of_day, vox::date_time
  // and, under C++20, the std::chrono types that command() takes.
  template <class... A>
  bool bind(const A&... args) noexcept {
    int i = 0;
    return (bind_at(++i, args) && ...);
  }
  template <class T>
  bool bind_at(int index, const T& v) noexcept {
    if (!s_) return false;
    const std::int32_t code = bind_one(index, v);
    if (code != VOX_E_NONE) error_ = vox::last_error();
    return code == VOX_E_NONE;
  }
  // Runs the command with the bound values. The answer belongs to the
  // statement: valid until the next run() or reset(), or the statement's end.
  result_view run() const noexcept {
    if (!s_) return result_view(error_);
    return result_view(::vox_run(s_));
  }
  // Forgets the bound values and the last answer.
  void reset() noexcept { ::vox_reset(s_); }
  vox_stmt* get() const noexcept { return s_; }

 private:
  template <class T>
  std::int32_t bind_one(int i, const T& v) noexcept {
    using U = std::uint32_t;
    if constexpr (detail::is_text<T>) {
      const std::string_view t(v);
      return ::vox_bind_text(s_, i, t.data(), t.size());
    } else if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, char>) {
      static_assert(detail::unsupported<T>, "bind text as a string and truth values as 0 or 1");
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
      return ::vox_bind_int64(s_, i, v);
    } else if constexpr (std::is_integral_v<T>) {
      return ::vox_bind_uint64(s_, i, v);
    } else if constexpr (std::is_floating_point_v<T>) {
      return ::vox_bind_double(s_, i, static_cast<double>(v));
    } else if constexpr (std::is_same_v<T, date>) {
      return ::vox_bind_date(s_, i, static_cast<U>(v.year), v.month, v.day);
    } else if constexpr (std::is_same_v<T, time_of_day>) {
      return ::vox_bind_time(s_, i, v.hour, v.minute, v.second, v.nanosecond);
    } else if constexpr (std::is_same_v<T, date_time>) {
      return ::vox_bind_datetime(s_, i, static_cast<U>(v.date.year), v.date.month, v.date.day, v.time.hour,
                                 v.time.minute, v.time.second, v.time.nanosecond);
#if VOX_NOSQL_CHRONO
    } else if constexpr (std::is_same_v<T, std::chrono::year_month_day>) {
      return bind_one(i, detail::from_chrono(v));
    } else if constexpr (detail::is_hh_mm_ss<T>::value) {
      const auto t = detail::from_chrono(std::chrono::duration_cast<std::chrono::nanoseconds>(v.to_duration()));
      return t ? bind_one(i, *t) : ::vox_bind_time(s_, i, 24, 0, 0, 0);  // out of range: refused
    } else if constexpr (detail::is_time_point<T>::value) {
      const auto day = std::chrono::floor<std::chrono::days>(v);
      const auto t = detail::from_chrono(std::chrono::duration_cast<std::chrono::nanoseconds>(v - day));
      const date d = detail::from_chrono(std::chrono::year_month_day(day));
      return t ? bind_one(i, date_time{d, *t}) : ::vox_bind_datetime(s_, i, 0, 0, 0, 24, 0, 0, 0);
#endif
    } else {
      static_assert(detail::unsupported<T>, "bind() takes strings, numbers, dates and times");
    }
  }

  vox_stmt* s_ = nullptr;
  vox::error error_;
};

// Several commands run as one, all or nothing (see vox_batch in
// vox_nosql.h): lines built as runf() builds them, lines as they stand, and
// prepared statements with the values bound to them when run() runs.
//
//   vox::batch pop;
//   pop.add("g {} min", "jobs").add("d {} min", "jobs");
//   if (pop.run()) take(pop[0]);   // the minimum, removed by no one else
class batch {
 public:
  // Adds command(format, args...); a line that cannot be built makes run()
  // fail with VOX_E_NOT_SENT, its place as the record, and run nothing.
  template <class... A>
  batch& add(std::string_view format, const A&... args) {
    std::optional<std::string> line = command(format, args...);
    items_.push_back({line ? std::move(*line) : std::string(), nullptr, line.has_value()});
    return *this;
  }
  // Adds a line as it stands.
  batch& add_line(std::string_view line) {
    items_.push_back({std::string(line), nullptr, line.size() <= max_line_bytes});
    return *this;
  }
  // Adds a statement, which must outlive run(); it runs with the values
  // bound to it then.
  batch& add(const statement& s) {
    items_.push_back({std::string(), s.get(), s.get() != nullptr});
    return *this;
  }

  // Runs the commands as one. False, with error() saying which failed and
  // why, when any failed: then none of them changed anything.
  bool run() {
    answers_.clear();
    std::vector<vox_batch_item> items;
    items.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
      const item& it = items_[i];
      if (!it.ok) {
        error_ = {VOX_E_NOT_SENT, "the line was not sent: it cannot be built or is too long", "", i};
        return false;
      }
      items.push_back({it.line.data(), static_cast<std::int32_t>(it.line.size()), it.st});
    }
    std::vector<datas*> out(items_.size(), nullptr);
    const std::int32_t n = ::vox_batch_items(items.data(), static_cast<std::int32_t>(items.size()), out.data());
    if (n < 0) {
      error_ = vox::last_error();
      return false;
    }
    error_ = {};
    answers_.reserve(out.size());
    for (datas* d : out) answers_.emplace_back(d);
    return true;
  }

  // The commands added.
  std::size_t size() const noexcept { return items_.size(); }
  // The answer of command i in the last run that succeeded.
  const result& operator[](std::size_t i) const noexcept { return answers_[i]; }
  const vox::error& error() const noexcept { return error_; }
  // Forgets the commands and the answers.
  void clear() noexcept {
    items_.clear();
    answers_.clear();
  }

 private:
  struct item {
    std::string line;
    vox_stmt* st;
    bool ok;
  };
  std::vector<item> items_;
  std::vector<result> answers_;
  vox::error error_;
};

// Durable mode while the object lives: vox_durable_open at construction,
// vox_durable_close at the end (see vox_nosql.h). False, with error(), when
// the directory could not be opened; then nothing was changed. Move-only.
//
//   vox::durable d("/var/lib/myhost/store", vox::durable::sync::always);
//   if (!d) { /* d.error() says why */ }
//   ...
//   d.checkpoint();
class durable {
 public:
  enum class sync : std::int32_t { none = 0, batch = 1, always = 2 };

  durable() noexcept = default;
  explicit durable(const std::string& dir, sync s = sync::none) noexcept {
    if (::vox_durable_open(dir.c_str(), static_cast<std::int32_t>(s)) == VOX_E_NONE) on_ = true;
    else error_ = vox::last_error();
  }
  durable(durable&& o) noexcept : on_(std::exchange(o.on_, false)), error_(o.error_) {}
  durable& operator=(durable&& o) noexcept {
    if (this != &o) {
      close();
      on_ = std::exchange(o.on_, false);
      error_ = o.error_;
    }
    return *this;
  }
  durable(const durable&) = delete;
  durable& operator=(const durable&) = delete;
  ~durable() { close(); }

  explicit operator bool() const noexcept { return on_; }
  // Why the last open, checkpoint or close failed.
  const vox::error& error() const noexcept { return error_; }
  // Writes a checkpoint; false (error() says why) when it failed.
  bool checkpoint() noexcept { return done(::vox_checkpoint()); }
  // Syncs and ends durable mode; false when the last sync failed.
  bool close() noexcept {
    if (!on_) return true;
    on_ = false;
    return done(::vox_durable_close());
  }

 private:
  bool done(std::int32_t code) noexcept {
    if (code == VOX_E_NONE) return true;
    error_ = vox::last_error();
    return false;
  }
  bool on_ = false;
  vox::error error_;
};

}  // namespace vox

#endif  // VOX_NOSQL_HPP
