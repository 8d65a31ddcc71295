// The delete command (remove elements) and the erase command (drop a
// container).
#include "ops/command.h"
#include "ops/ops.h"
#include "ops/refusal.h"

namespace nosql_db {
namespace {

template <class K>
bool delete_typed(adt<K>& c, const element_command& cmd, arg_values& v, bool literals) {
  if (literals && !read_literals_as<K>(cmd, v)) return false;
  const word row = cmd.row;
  auto key = [&](uint8_t slot) -> decltype(auto) { return v[slot].get<K>(); };
  const uint64_t n = v[slot_a].get<uint64_t>();
  // The operation's answer; a refusal records why.
  auto done = [&](bool ok) { return ok || refused(c, element_cmd::del, row); };
  switch (row) {
    case word::all: return done(c.del_all());
    case word::equal: return done(c.del_eq(key(slot_a)));
    case word::first: return done(c.del_first());
    case word::first_n: return done(c.del_first_n(n));
    case word::gt: return done(c.del_gt(key(slot_a)));
    case word::ge: return done(c.del_ge(key(slot_a)));
    case word::lt: return done(c.del_lt(key(slot_a)));
    case word::le: return done(c.del_le(key(slot_a)));
    case word::last: return done(c.del_last());
    case word::lt_gt: return done(c.del_lt_gt(key(slot_a), key(slot_b)));
    case word::lt_ge: return done(c.del_lt_ge(key(slot_a), key(slot_b)));
    case word::le_gt: return done(c.del_le_gt(key(slot_a), key(slot_b)));
    case word::le_ge: return done(c.del_le_ge(key(slot_a), key(slot_b)));
    case word::last_n: return done(c.del_last_n(n));
    case word::min: return done(c.del_min());
    case word::max: return done(c.del_max());
    case word::min_n: return done(c.del_min_n(n));
    case word::max_n: return done(c.del_max_n(n));
    case word::nth: return done(c.del_nth(n));
    case word::pos: return done(c.del_at_pos(n));
    case word::range: return done(c.del_range(n, v[slot_b].get<uint64_t>()));
    default: return fail(failure::unknown_word);
  }
}

}  // namespace

bool run_delete(const element_command& cmd, arg_values& v, bool literals) {
  return with_adt(*cmd.c, [&](auto& typed) { return delete_typed(typed, cmd, v, literals); });
}

bool erase_cmd(store& s, uint64_t vkey, datas* out, std::unique_ptr<ab_adt>* keep) {
  // Build the answer first: once the container is gone nothing may fail.
  append_value(add_column(out, "erase vkey", scalar_traits<uint64_t>::desc), vkey);
  std::unique_ptr<ab_adt> gone = s.remove(vkey);  // destroyed here unless kept
  if (keep) *keep = std::move(gone);
  return true;
}

}  // namespace nosql_db
