// The set command: overwrite elements in place, re-key, or set a value.
#include <new>

#include "ops/command.h"
#include "ops/ops.h"
#include "ops/refusal.h"

namespace nosql_db {
namespace {

// Whether the selection that re-keying row w makes on c holds no element:
// the get of the same word, made again after the row was refused. Memory
// running out counts as a selection of some.
template <class K>
bool selects_nothing(const adt<K>& c, word w, const arg_values& v) noexcept {
  try {
    elem_array<K> sel;
    return !list_op(c, w, v, &sel) || sel.size() == 0;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

template <class K>
bool set_typed(adt<K>& c, const element_command& cmd, arg_values& v, bool literals) {
  if (literals && !read_literals_as<K>(cmd, v)) return false;
  const word row = cmd.row;
  if (row == word::value)
    return c.set_value(v[slot_a].get<K>(), v[slot_v].ref()) || refused(c, element_cmd::set, row);
  decltype(auto) x = v[slot_v].get<K>();
  // The operation's answer; a refusal records why.
  auto done = [&](bool ok) { return ok || refused(c, element_cmd::set, row, is_nan(x)); };
  // A re-keying row's refusal also depends on what the row selected.
  auto rekeyed = [&](bool ok) { return ok || rekey_refused(c, row, is_nan(x), selects_nothing(c, row, v)); };
  auto key = [&](uint8_t slot) -> decltype(auto) { return v[slot].get<K>(); };
  const uint64_t n = v[slot_a].get<uint64_t>();
  switch (row) {
    case word::all: return done(c.set_all(x));
    case word::equal: return rekeyed(c.set_eq(key(slot_a), x));
    case word::first: return done(c.set_first(x));
    case word::first_n: return done(c.set_first_n(n, x));
    case word::gt: return rekeyed(c.set_gt(key(slot_a), x));
    case word::ge: return rekeyed(c.set_ge(key(slot_a), x));
    case word::lt: return rekeyed(c.set_lt(key(slot_a), x));
    case word::le: return rekeyed(c.set_le(key(slot_a), x));
    case word::last: return done(c.set_last(x));
    case word::lt_gt: return rekeyed(c.set_lt_gt(key(slot_a), key(slot_b), x));
    case word::lt_ge: return rekeyed(c.set_lt_ge(key(slot_a), key(slot_b), x));
    case word::le_gt: return rekeyed(c.set_le_gt(key(slot_a), key(slot_b), x));
    case word::le_ge: return rekeyed(c.set_le_ge(key(slot_a), key(slot_b), x));
    case word::last_n: return done(c.set_last_n(n, x));
    case word::min: return done(c.set_min(x));
    case word::max: return done(c.set_max(x));
    case word::min_n: return rekeyed(c.set_min_n(n, x));
    case word::max_n: return rekeyed(c.set_max_n(n, x));
    case word::nth: return done(c.set_nth(n, x));
    case word::range: return done(c.set_range(n, v[slot_b].get<uint64_t>(), x));
    case word::val: return done(c.set_at_pos(n, x));
    default: return fail(failure::unknown_word);
  }
}

}  // namespace

bool run_set(const element_command& cmd, arg_values& v, bool literals) {
  return with_adt(*cmd.c, [&](auto& typed) { return set_typed(typed, cmd, v, literals); });
}

}  // namespace nosql_db
