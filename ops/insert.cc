// The insert command: one insertion, by key or at a position.
#include "ops/command.h"
#include "ops/ops.h"
#include "ops/refusal.h"

namespace nosql_db {
namespace {

template <class K>
bool insert_typed(adt<K>& c, const element_command& cmd, arg_values& v, bool literals) {
  if (literals && !read_literals_as<K>(cmd, v)) return false;
  const word row = cmd.row;
  if (row == word::key) {
    decltype(auto) key = v[slot_a].get<K>();
    return c.ins_key(key, v[slot_v].ref()) || key_insert_refused(c, key);
  }
  decltype(auto) x = v[slot_v].get<K>();
  if (row == word::key_default) {
    value_box value;
    value.set_default(c.value_type());
    return c.ins_key(x, value.ref()) || key_insert_refused(c, x);
  }
  const uint64_t p = v[slot_a].get<uint64_t>();
  auto done = [&](bool ok) { return ok || refused(c, element_cmd::insert, row); };
  switch (row) {
    case word::nth: return done(c.ins_nth(p, x));
    case word::first: return done(c.ins_first(x));
    case word::last: return done(c.ins_last(x));
    case word::val: return done(c.ins_at_pos(p, x));
    default: return fail(failure::unknown_word);
  }
}

}  // namespace

bool run_insert(const element_command& cmd, arg_values& v, bool literals) {
  return with_adt(*cmd.c, [&](auto& typed) { return insert_typed(typed, cmd, v, literals); });
}

}  // namespace nosql_db
