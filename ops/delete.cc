// The delete command (remove elements) and the erase command (drop a
// container).
#include "ops/ops.h"
#include "ops/refusal.h"
#include "ops/typed.h"
#include "ops/words.h"

namespace nosql_db {
namespace {

template <class K>
bool delete_typed(adt<K>& c, std::string_view w, std::string_view a, std::string_view b) {
  K k1{}, k2{};
  uint64_t n = 0, m = 0;
  auto key1 = [&] { return read_arg(a, &k1); };
  auto keys = [&] { return read_arg(a, &k1) && read_arg(b, &k2); };
  auto count1 = [&] { return read_arg(a, &n); };
  const word row = classify_delete(w);
  // The operation's answer; a refusal records why.
  auto done = [&](bool ok) { return ok || refused(c, change_cmd::del, row); };
  switch (row) {
    case word::all: return done(c.del_all());
    case word::equal: return key1() && done(c.del_eq(k1));
    case word::first: return done(c.del_first());
    case word::first_n: return count1() && done(c.del_first_n(n));
    case word::gt: return key1() && done(c.del_gt(k1));
    case word::ge: return key1() && done(c.del_ge(k1));
    case word::lt: return key1() && done(c.del_lt(k1));
    case word::le: return key1() && done(c.del_le(k1));
    case word::last: return done(c.del_last());
    case word::lt_gt: return keys() && done(c.del_lt_gt(k1, k2));
    case word::lt_ge: return keys() && done(c.del_lt_ge(k1, k2));
    case word::le_gt: return keys() && done(c.del_le_gt(k1, k2));
    case word::le_ge: return keys() && done(c.del_le_ge(k1, k2));
    case word::last_n: return count1() && done(c.del_last_n(n));
    case word::min: return done(c.del_min());
    case word::max: return done(c.del_max());
    case word::min_n: return count1() && done(c.del_min_n(n));
    case word::max_n: return count1() && done(c.del_max_n(n));
    case word::nth: return count1() && done(c.del_nth(n));
    case word::pos: return count1() && done(c.del_at_pos(n));
    case word::range: return read_arg(a, &n) && read_arg(b, &m) && done(c.del_range(n, m));
    default: return fail(failure::unknown_word);
  }
}

}  // namespace

bool delete_cmd(const store& s, const char* line, int64_t len) {
  token t[max_tokens];
  const int n = split_tokens(line, len, t);
  if (!token_count_ok(n, 3, 5)) return false;
  ab_adt* c = resolve_container(s, t[1]);
  if (!c) return false;
  if (!takes_element_commands(*c)) return fail(failure::placeholder, c->kind_name().data());
  const std::string_view w = t[2].view(), a = t[3].view(), b = t[4].view();
  return with_adt(*c, [&](auto& typed) { return delete_typed(typed, w, a, b); });
}

bool erase_cmd(store& s, const char* line, int64_t len, datas* out) {
  token t[max_tokens];
  if (!token_count_ok(split_tokens(line, len, t), 2, 2)) return false;
  uint64_t v;
  if (!resolve_container(s, t[1], &v)) return false;
  // Build the answer first: once the container is gone nothing may fail.
  append_value(add_column(out, "erase vkey", scalar_traits<uint64_t>::desc), v);
  s.remove(v);  // the returned owner destroys the container
  return true;
}

}  // namespace nosql_db
