// Value formatting: integers in decimal, floats in fixed notation, calendar
// values zero-padded, nanoseconds without trailing zeros.
#include "lang/format.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace nosql_db {
namespace {

template <class T>
T load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void append_date(const date& d, xstring* out) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", unsigned{d.year}, unsigned{d.month},
                              unsigned{d.day});
  out->append(buf, static_cast<uint64_t>(n));
}

void append_time(const time& t, xstring* out) {
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", unsigned{t.hour}, unsigned{t.minute},
                        unsigned{t.second});
  if (t.nanosecond != 0) {
    char frac[16];
    int f = std::snprintf(frac, sizeof frac, "%09" PRIu32, static_cast<uint32_t>(t.nanosecond));
    while (f > 0 && frac[f - 1] == '0') --f;
    buf[n++] = '.';
    std::memcpy(buf + n, frac, static_cast<size_t>(f));
    n += f;
  }
  out->append(buf, static_cast<uint64_t>(n));
}

}  // namespace

void format_cell(type_desc d, const uint8_t* value, std::string_view text, xstring* out) {
  char buf[330];
  int n = 0;
  switch (d.cls) {
    case class_code(type_class::integer): {
      const bool sign = d.sign == 0;
      switch (d.size) {
        case 0: n = sign ? std::snprintf(buf, sizeof buf, "%d", int{load<int8_t>(value)})
                         : std::snprintf(buf, sizeof buf, "%u", unsigned{load<uint8_t>(value)}); break;
        case 1: n = sign ? std::snprintf(buf, sizeof buf, "%d", int{load<int16_t>(value)})
                         : std::snprintf(buf, sizeof buf, "%u", unsigned{load<uint16_t>(value)}); break;
        case 2: n = sign ? std::snprintf(buf, sizeof buf, "%" PRId32, load<int32_t>(value))
                         : std::snprintf(buf, sizeof buf, "%" PRIu32, load<uint32_t>(value)); break;
        default: n = sign ? std::snprintf(buf, sizeof buf, "%" PRId64, load<int64_t>(value))
                          : std::snprintf(buf, sizeof buf, "%" PRIu64, load<uint64_t>(value)); break;
      }
      break;
    }
    case class_code(type_class::floating):
      if (d.size == 2) {
        std::snprintf(buf, 50, "%.*f", 9, static_cast<double>(load<float>(value)));
      } else {
        std::snprintf(buf, 330, "%.*f", 17, load<double>(value));
      }
      n = static_cast<int>(std::strlen(buf));
      break;
    case class_code(type_class::string): out->append(text.data(), text.size()); return;
    case class_code(type_class::date): append_date(load<date>(value), out); return;
    case class_code(type_class::time): {
      const auto dt = load<date_time>(value);
      append_time(time{dt.hour, dt.minute, dt.second, dt.nanosecond}, out);
      return;
    }
    case class_code(type_class::datetime): {
      const auto dt = load<date_time>(value);
      append_date(date{dt.year, dt.month, dt.day}, out);
      out->push_back(' ');
      append_time(time{dt.hour, dt.minute, dt.second, dt.nanosecond}, out);
      return;
    }
    default: return;
  }
  if (n > 0) out->append(buf, static_cast<uint64_t>(n));
}

void hex_text(uint64_t v, xstring* out) {
  char buf[24];
  const int n = std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
  out->append(buf, static_cast<uint64_t>(n));
}

}  // namespace nosql_db
