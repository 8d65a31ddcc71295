// The set command: overwrite elements in place, re-key, or set a value.
#include "ops/ops.h"
#include "ops/typed.h"
#include "ops/words.h"

namespace nosql_db {
namespace {

template <class K>
bool set_typed(adt<K>& c, std::string_view w, std::string_view a, std::string_view b, std::string_view v) {
  const word row = classify_set(w);
  if (row == word::value) {
    // Key first, then the new value of the value type.
    K key{};
    value_box value;
    return parse_literal(a, &key) && value.parse(c.value_type(), v) && c.set_value(key, value.ref());
  }
  // Every other word reads the new value (of K) first, so a bad one fails
  // them all, unknown words included.
  K x{};
  if (!parse_literal(v, &x)) return false;
  K k1{}, k2{};
  uint64_t n = 0, m = 0;
  auto key1 = [&] { return parse_literal(a, &k1); };
  auto keys = [&] { return parse_literal(a, &k1) && parse_literal(b, &k2); };
  switch (row) {
    case word::all: return c.set_all(x);
    case word::equal: return key1() && c.set_eq(k1, x);
    case word::first: return c.set_first(x);
    case word::first_n: return parse_u64(a, &n) && c.set_first_n(n, x);
    case word::gt: return key1() && c.set_gt(k1, x);
    case word::ge: return key1() && c.set_ge(k1, x);
    case word::lt: return key1() && c.set_lt(k1, x);
    case word::le: return key1() && c.set_le(k1, x);
    case word::last: return c.set_last(x);
    case word::lt_gt: return keys() && c.set_lt_gt(k1, k2, x);
    case word::lt_ge: return keys() && c.set_lt_ge(k1, k2, x);
    case word::le_gt: return keys() && c.set_le_gt(k1, k2, x);
    case word::le_ge: return keys() && c.set_le_ge(k1, k2, x);
    case word::last_n: return parse_u64(a, &n) && c.set_last_n(n, x);
    case word::min: return c.set_min(x);
    case word::max: return c.set_max(x);
    case word::min_n: return parse_u64(a, &n) && c.set_min_n(n, x);
    case word::max_n: return parse_u64(a, &n) && c.set_max_n(n, x);
    case word::nth: return parse_u64(a, &n) && c.set_nth(n, x);
    case word::range: return parse_u64(a, &n) && parse_u64(b, &m) && c.set_range(n, m, x);
    case word::val: return parse_u64(a, &n) && c.set_at_pos(n, x);
    default: return false;
  }
}

}  // namespace

bool set_cmd(ab_adt& c, std::string_view w, std::string_view a, std::string_view b, std::string_view v) {
  if (!takes_element_commands(c)) return false;
  return with_adt(c, [&](auto& typed) { return set_typed(typed, w, a, b, v); });
}

}  // namespace nosql_db
