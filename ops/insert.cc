// The insert command: one insertion, by key or at a position.
#include "ops/ops.h"
#include "ops/typed.h"

namespace nosql_db {
namespace {

template <class K>
bool insert_typed(adt<K>& c, std::string_view pos_word, std::string_view where, std::string_view what) {
  K x{};
  if (pos_word.empty()) {
    value_box value;
    if (!where.empty()) {
      if (!parse_literal(where, &x) || !value.parse(c.value_type(), what)) return false;
    } else {
      if (!parse_literal(what, &x)) return false;
      value.set_default(c.value_type());
    }
    return c.ins_key(x, value.ref());
  }
  uint64_t p = 0;
  switch (pos_word[0]) {
    case 'n': return parse_literal(what, &x) && parse_u64(where, &p) && c.ins_nth(p, x);
    case 'f': return parse_literal(what, &x) && c.ins_first(x);
    case 'l': return parse_literal(what, &x) && c.ins_last(x);
    case 'v': return parse_u64(where, &p) && parse_literal(what, &x) && c.ins_at_pos(p, x);
    default: return false;
  }
}

}  // namespace

bool insert_cmd(const store& s, const char* line, int64_t len) {
  token t[max_tokens];
  const int n = split_tokens(line, len, t);
  if (n < 3 || n > 5) return false;
  ab_adt* c = resolve_container(s, t[1]);
  if (!c || !takes_element_commands(*c)) return false;
  std::string_view pos_word, where, what;
  if (n == 3) {
    what = t[2].view();
  } else if (n == 4) {
    const std::string_view w = t[2].view();
    const bool bare = t[2].owned.empty();
    if (bare && !w.empty() && (w[0] == 'f' || w[0] == 'l')) pos_word = w;
    else where = w;
    what = t[3].view();
  } else {
    pos_word = t[2].view();
    where = t[3].view();
    what = t[4].view();
  }
  // An empty position word (a quoted empty word in a five-token line) is
  // no position: the line inserts by key, or with the default value when
  // `where` is empty too.
  return with_adt(*c, [&](auto& typed) { return insert_typed(typed, pos_word, where, what); });
}

}  // namespace nosql_db
