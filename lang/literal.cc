// Literal parsers for numbers, floating point and calendar values.
#include "lang/literal.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <memory>

namespace nosql_db {
namespace {

bool is_space(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

int digit_value(char c, unsigned base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16) {
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  }
  return -1;
}

// The integer rule: optional white space, a sign ('-' only when
// allow_minus), a base prefix (0x, 0b, 0 for octal), digits. limit is the
// largest magnitude accepted for the sign read; *overflow reports a
// magnitude beyond it. Wrap instead keeps the low 64 bits of any magnitude
// and never reports overflow. Returns false when the parse does not end at
// the token's end.
template <bool Wrap = false>
bool scan_integer(std::string_view t, bool allow_minus, uint64_t pos_limit, uint64_t neg_limit,
                  bool* negative, uint64_t* magnitude, bool* overflow) {
  // Most numbers on a command line are plain decimals: up to 18 digits
  // without a sign or a leading zero cannot overflow 64 bits.
  if (!t.empty() && t.size() <= 18 && t[0] >= '1' && t[0] <= '9') {
    uint64_t v = 0;
    size_t k = 0;
    for (; k < t.size() && t[k] >= '0' && t[k] <= '9'; ++k) v = v * 10 + static_cast<uint64_t>(t[k] - '0');
    if (k == t.size()) {
      *negative = false;
      *overflow = v > pos_limit;
      *magnitude = *overflow ? 0 : v;
      return true;
    }
  }
  size_t i = 0;
  while (i < t.size() && is_space(t[i])) ++i;
  *negative = false;
  if (i < t.size() && (t[i] == '+' || (allow_minus && t[i] == '-'))) {
    *negative = t[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < t.size() && t[i] == '0') {
    if (i + 1 < t.size() && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
      base = 16;
      i += 2;
    } else if (i + 1 < t.size() && (t[i + 1] == 'b' || t[i + 1] == 'B')) {
      base = 2;
      i += 2;
    } else {
      base = 8;
    }
  }
  const uint64_t limit = *negative ? neg_limit : pos_limit;
  uint64_t v = 0;
  *overflow = false;
  for (; i < t.size(); ++i) {
    const int d = digit_value(t[i], base);
    if (d < 0) break;
    if (Wrap) {
      v = v * base + static_cast<uint64_t>(d);
    } else if (!*overflow) {
      if (v > (limit - static_cast<uint64_t>(d)) / base) *overflow = true;
      else v = v * base + static_cast<uint64_t>(d);
    }
  }
  *magnitude = v;
  return i == t.size();
}

locale_t c_locale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

// Runs conv over a zero-terminated copy of the token; accepted only when
// the conversion consumes every byte.
template <class T, class Conv>
bool parse_floating(std::string_view t, T* out, Conv conv) noexcept {
  if (t.empty()) {
    *out = 0;  // the empty argument reads as 0
    return true;
  }
  char small[128];
  std::unique_ptr<char[]> big;
  char* buf = small;
  if (t.size() >= sizeof small) {
    big.reset(new (std::nothrow) char[t.size() + 1]);
    if (!big) return false;
    buf = big.get();
  }
  std::memcpy(buf, t.data(), t.size());
  buf[t.size()] = 0;
  char* end = nullptr;
  const T v = conv(buf, &end);
  if (end != buf + t.size()) return false;
  *out = v;
  return true;
}

bool digits(std::string_view t, size_t from, size_t n, unsigned* out) {
  unsigned v = 0;
  for (size_t i = from; i < from + n; ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + static_cast<unsigned>(t[i] - '0');
  }
  *out = v;
  return true;
}

bool leap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

bool parse_i32(std::string_view t, int32_t* out) noexcept {
  bool neg, ovf;
  uint64_t m;
  if (!scan_integer(t, true, INT32_MAX, uint64_t{INT32_MAX} + 1, &neg, &m, &ovf)) return false;
  if (ovf) *out = neg ? INT32_MIN : INT32_MAX;
  else *out = neg ? static_cast<int32_t>(0 - m) : static_cast<int32_t>(m);
  return true;
}

bool parse_i64(std::string_view t, int64_t* out) noexcept {
  bool neg, ovf;
  uint64_t m;
  if (!scan_integer(t, true, INT64_MAX, uint64_t{INT64_MAX} + 1, &neg, &m, &ovf)) return false;
  if (ovf) *out = neg ? INT64_MIN : INT64_MAX;
  else *out = neg ? static_cast<int64_t>(0 - m) : static_cast<int64_t>(m);
  return true;
}

bool parse_u32(std::string_view t, uint32_t* out) noexcept {
  bool neg, ovf;
  uint64_t m;
  if (!scan_integer(t, false, UINT32_MAX, 0, &neg, &m, &ovf)) return false;
  *out = ovf ? UINT32_MAX : static_cast<uint32_t>(m);
  return true;
}

bool parse_u64(std::string_view t, uint64_t* out) noexcept {
  bool neg, ovf;
  uint64_t m;
  if (!scan_integer(t, false, UINT64_MAX, 0, &neg, &m, &ovf)) return false;
  *out = ovf ? UINT64_MAX : m;
  return true;
}

bool parse_f32(std::string_view t, float* out) noexcept {
  return parse_floating(t, out, [](const char* s, char** e) { return strtof_l(s, e, c_locale()); });
}

bool parse_f64(std::string_view t, double* out) noexcept {
  return parse_floating(t, out, [](const char* s, char** e) { return strtod_l(s, e, c_locale()); });
}

bool make_date(uint32_t y, uint32_t m, uint32_t d, date* out) noexcept {
  static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y > 9999 || m < 1 || m > 12 || d < 1) return false;
  const unsigned month_len = (m == 2 && leap(y)) ? 29 : days[m - 1];
  if (d > month_len) return false;
  *out = date{static_cast<uint16_t>(y), static_cast<uint8_t>(m), static_cast<uint8_t>(d)};
  return true;
}

bool make_time(uint32_t h, uint32_t m, uint32_t s, uint32_t ns, time* out) noexcept {
  if (h >= 24 || m >= 60 || s >= 60 || ns > 999999999) return false;
  *out = time{static_cast<uint8_t>(h), static_cast<uint8_t>(m), static_cast<uint8_t>(s), ns};
  return true;
}

bool parse_date(std::string_view t, date* out) noexcept {
  unsigned y, m, d;
  if (t.size() < 10 || t[4] != '-' || t[7] != '-') return false;
  if (!digits(t, 0, 4, &y) || !digits(t, 5, 2, &m) || !digits(t, 8, 2, &d)) return false;
  return make_date(y, m, d, out);
}

bool parse_time(std::string_view t, time* out) noexcept {
  unsigned h, m, s;
  if (t.size() < 8 || t[2] != ':' || t[5] != ':') return false;
  if (!digits(t, 0, 2, &h) || !digits(t, 3, 2, &m) || !digits(t, 6, 2, &s)) return false;
  uint32_t ns = 0;
  if (t.size() > 8 && t[8] == '.') {
    // Up to nine fraction digits count; further digits are ignored, so a
    // long fraction is truncated to whole nanoseconds.
    unsigned used = 0;
    for (size_t i = 9; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
      if (used < 9) {
        ns = ns * 10 + static_cast<uint32_t>(t[i] - '0');
        ++used;
      }
    }
    for (; used < 9; ++used) ns *= 10;
  }
  return make_time(h, m, s, ns, out);
}

bool parse_datetime(std::string_view t, date_time* out) noexcept {
  date d;
  time tm;
  if (t.size() < 11 || !parse_date(t.substr(0, 10), &d) || !parse_time(t.substr(11), &tm)) return false;
  *out = date_time{d.year, d.month, d.day, tm.hour, tm.minute, tm.second, tm.nanosecond};
  return true;
}

uint64_t parse_size_argument(std::string_view t) noexcept {
  bool neg, ovf;
  uint64_t m;
  return scan_integer<true>(t, false, UINT64_MAX, 0, &neg, &m, &ovf) ? m : 0;
}

}  // namespace nosql_db
