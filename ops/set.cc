// The set command: overwrite elements in place, re-key, or set a value.
#include "ops/ops.h"
#include "ops/refusal.h"
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
    if (!read_arg(a, &key) || !value.parse(c.value_type(), v)) return false;
    return c.set_value(key, value.ref()) || refused(c, change_cmd::set, row);
  }
  // Every other word reads the new value (of K) first, so a bad one fails
  // them all, unknown words included.
  K x{};
  if (!read_arg(v, &x)) return false;
  K k1{}, k2{};
  uint64_t n = 0, m = 0;
  auto key1 = [&] { return read_arg(a, &k1); };
  auto keys = [&] { return read_arg(a, &k1) && read_arg(b, &k2); };
  auto count1 = [&] { return read_arg(a, &n); };
  // The operation's answer; a refusal records why.
  auto done = [&](bool ok) { return ok || refused(c, change_cmd::set, row, is_nan(x)); };
  switch (row) {
    case word::all: return done(c.set_all(x));
    case word::equal: return key1() && done(c.set_eq(k1, x));
    case word::first: return done(c.set_first(x));
    case word::first_n: return count1() && done(c.set_first_n(n, x));
    case word::gt: return key1() && done(c.set_gt(k1, x));
    case word::ge: return key1() && done(c.set_ge(k1, x));
    case word::lt: return key1() && done(c.set_lt(k1, x));
    case word::le: return key1() && done(c.set_le(k1, x));
    case word::last: return done(c.set_last(x));
    case word::lt_gt: return keys() && done(c.set_lt_gt(k1, k2, x));
    case word::lt_ge: return keys() && done(c.set_lt_ge(k1, k2, x));
    case word::le_gt: return keys() && done(c.set_le_gt(k1, k2, x));
    case word::le_ge: return keys() && done(c.set_le_ge(k1, k2, x));
    case word::last_n: return count1() && done(c.set_last_n(n, x));
    case word::min: return done(c.set_min(x));
    case word::max: return done(c.set_max(x));
    case word::min_n: return count1() && done(c.set_min_n(n, x));
    case word::max_n: return count1() && done(c.set_max_n(n, x));
    case word::nth: return count1() && done(c.set_nth(n, x));
    case word::range: return read_arg(a, &n) && read_arg(b, &m) && done(c.set_range(n, m, x));
    case word::val: return count1() && done(c.set_at_pos(n, x));
    default: return fail(failure::unknown_word);
  }
}

}  // namespace

bool set_cmd(ab_adt& c, std::string_view w, std::string_view a, std::string_view b, std::string_view v) {
  if (!takes_element_commands(c)) return fail(failure::placeholder, c.kind_name().data());
  return with_adt(c, [&](auto& typed) { return set_typed(typed, w, a, b, v); });
}

}  // namespace nosql_db
