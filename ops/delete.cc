// The delete command (remove elements) and the erase command (drop a
// container).
#include "ops/ops.h"
#include "ops/typed.h"
#include "ops/words.h"

namespace nosql_db {
namespace {

template <class K>
bool delete_typed(adt<K>& c, std::string_view w, std::string_view a, std::string_view b) {
  K k1{}, k2{};
  uint64_t n = 0, m = 0;
  auto key1 = [&] { return parse_literal(a, &k1); };
  auto keys = [&] { return parse_literal(a, &k1) && parse_literal(b, &k2); };
  switch (classify_delete(w)) {
    case word::all: return c.del_all();
    case word::equal: return key1() && c.del_eq(k1);
    case word::first: return c.del_first();
    case word::first_n: return parse_u64(a, &n) && c.del_first_n(n);
    case word::gt: return key1() && c.del_gt(k1);
    case word::ge: return key1() && c.del_ge(k1);
    case word::lt: return key1() && c.del_lt(k1);
    case word::le: return key1() && c.del_le(k1);
    case word::last: return c.del_last();
    case word::lt_gt: return keys() && c.del_lt_gt(k1, k2);
    case word::lt_ge: return keys() && c.del_lt_ge(k1, k2);
    case word::le_gt: return keys() && c.del_le_gt(k1, k2);
    case word::le_ge: return keys() && c.del_le_ge(k1, k2);
    case word::last_n: return parse_u64(a, &n) && c.del_last_n(n);
    case word::min: return c.del_min();
    case word::max: return c.del_max();
    case word::min_n: return parse_u64(a, &n) && c.del_min_n(n);
    case word::max_n: return parse_u64(a, &n) && c.del_max_n(n);
    case word::nth: return parse_u64(a, &n) && c.del_nth(n);
    case word::pos: return parse_u64(a, &n) && c.del_at_pos(n);
    case word::range: return parse_u64(a, &n) && parse_u64(b, &m) && c.del_range(n, m);
    default: return false;
  }
}

}  // namespace

bool delete_cmd(const store& s, const char* line, int64_t len) {
  token t[max_tokens];
  const int n = split_tokens(line, len, t);
  if (n < 3 || n > 5) return false;
  ab_adt* c = resolve_container(s, t[1]);
  if (!c || !takes_element_commands(*c)) return false;
  const std::string_view w = t[2].view(), a = t[3].view(), b = t[4].view();
  return with_adt(*c, [&](auto& typed) { return delete_typed(typed, w, a, b); });
}

bool erase_cmd(store& s, const char* line, int64_t len, datas* out) {
  token t[max_tokens];
  if (split_tokens(line, len, t) != 2) return false;
  uint64_t v;
  if (!find_container_id(s, t[1], t[1].is_name(), &v) || !s.at(v)) return false;
  // Build the answer first: once the container is gone nothing may fail.
  append_value(add_column(out, "erase vkey", scalar_traits<uint64_t>::desc), v);
  s.remove(v);  // the returned owner destroys the container
  return true;
}

}  // namespace nosql_db
