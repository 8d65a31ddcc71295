// Descriptor tables and type-name recognition.
#include "lang/scalar.h"

namespace nosql_db {

scalar scalar_of(type_desc d) noexcept {
#define NOSQL_MATCH(tag, T, name, sz, sg, cl) \
  if (d == type_desc{sz, sg, class_code(type_class::cl)}) return scalar::tag;
  NOSQL_FOR_EACH_SCALAR(NOSQL_MATCH)
#undef NOSQL_MATCH
  return scalar::none;
}

type_desc desc_of(scalar s) noexcept {
  return visit_scalar(s, no_type_desc, []<class T>(type_tag<T>) { return scalar_traits<T>::desc; });
}

std::string_view type_name(type_desc d) noexcept {
  switch (d.cls) {
    case class_code(type_class::integer): {
      static constexpr std::string_view signed_names[] = {"i08", "i16", "i32", "i64"};
      static constexpr std::string_view unsigned_names[] = {"u08", "u16", "u32", "u64"};
      const unsigned i = d.size < 4 ? d.size : 3;
      return d.sign == 0 ? signed_names[i] : unsigned_names[i];
    }
    case class_code(type_class::floating): return d.size == 2 ? "float" : "double";
    case class_code(type_class::string): return "string";
    case class_code(type_class::date): return "date";
    case class_code(type_class::time): return "time";
    case class_code(type_class::datetime): return "datetime";
    default: return {};
  }
}

scalar parse_type_name(std::string_view t) noexcept {
  if (t.size() < 3) return scalar::none;
  auto width = [](char c, scalar s8, scalar s16, scalar s32, scalar s64) {
    switch (c) {
      case '8': return s8;
      case '6': return s16;
      case '2': return s32;
      case '4': return s64;
      default: return scalar::none;
    }
  };
  switch (t[0]) {
    case 'i': return width(t[2], scalar::i08, scalar::i16, scalar::i32, scalar::i64);
    case 'u': return width(t[2], scalar::u08, scalar::u16, scalar::u32, scalar::u64);
    case 'f': return scalar::f32;
    case 't': return scalar::time;
    case 'd':
      if (t[1] == 'o') return scalar::f64;
      if (t.size() == 4) return scalar::date;
      if (t.size() == 8) return scalar::datetime;
      return scalar::none;
    case 's': return scalar::string;
    default: return scalar::none;
  }
}

}  // namespace nosql_db
