// The insert command: one insertion, by key or at a position.
#include "ops/ops.h"
#include "ops/refusal.h"
#include "ops/typed.h"

namespace nosql_db {
namespace {

template <class K>
bool insert_typed(adt<K>& c, std::string_view pos_word, std::string_view where, std::string_view what) {
  K x{};
  if (pos_word.empty()) {
    value_box value;
    if (!where.empty()) {
      if (!read_arg(where, &x) || !value.parse(c.value_type(), what)) return false;
    } else {
      if (!read_arg(what, &x)) return false;
      value.set_default(c.value_type());
    }
    return c.ins_key(x, value.ref()) || key_insert_refused(c, x);
  }
  uint64_t p = 0;
  auto done = [&](bool ok, word row) { return ok || refused(c, change_cmd::insert, row); };
  switch (pos_word[0]) {
    case 'n': return read_arg(what, &x) && read_arg(where, &p) && done(c.ins_nth(p, x), word::nth);
    case 'f': return read_arg(what, &x) && done(c.ins_first(x), word::first);
    case 'l': return read_arg(what, &x) && done(c.ins_last(x), word::last);
    case 'v': return read_arg(where, &p) && read_arg(what, &x) && done(c.ins_at_pos(p, x), word::val);
    default: return fail(failure::unknown_word);
  }
}

}  // namespace

bool insert_cmd(const store& s, const char* line, int64_t len) {
  token t[max_tokens];
  const int n = split_tokens(line, len, t);
  if (!token_count_ok(n, 3, 5)) return false;
  ab_adt* c = resolve_container(s, t[1]);
  if (!c) return false;
  if (!takes_element_commands(*c)) return fail(failure::placeholder, c->kind_name().data());
  std::string_view pos_word, where, what;
  if (n == 3) {
    what = t[2].view();
  } else if (n == 4) {
    const std::string_view w = t[2].view();
    const bool bare = !t[2].quoted;
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
