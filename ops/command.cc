// The front end of the element commands, their rows' signatures, and the
// one call that runs a parsed command.
#include "ops/command.h"

#include <array>

#include "ops/ops.h"
#include "ops/record.h"

namespace nosql_db {
namespace {

bool is_placeholder(const token& t) noexcept { return !t.quoted && t.length == 1 && t.text[0] == '?'; }

// The token at index k of a line of n, or an empty one past its end: the
// token array may be reused and hold an earlier line's tokens there.
const token& token_at(const token (&t)[max_tokens], int n, int k) noexcept {
  static const token none;
  return k < n ? t[k] : none;
}

void put(element_command* out, uint8_t slot, const token& t) noexcept {
  out->text[slot] = t.view();
  out->placeholder[slot] = !t.quoted && t.length == 1 && t.text[0] == '?';
}

// Insert's arrangement: `i REF X`, `i REF K X` or `i REF first|last X`,
// `i REF WORD P X`. An empty position word (a quoted "") is no position.
void arrange_insert(const token (&t)[max_tokens], int n, element_command* out) {
  std::string_view pos_word;
  if (n == 3) {
    put(out, slot_v, t[2]);
  } else if (n == 4) {
    const std::string_view w = t[2].view();
    if (!t[2].quoted && !w.empty() && (w[0] == 'f' || w[0] == 'l')) pos_word = w;
    else put(out, slot_a, t[2]);
    put(out, slot_v, t[3]);
  } else {
    pos_word = t[2].view();
    out->word_placeholder = is_placeholder(t[2]);
    put(out, slot_a, t[3]);
    put(out, slot_v, t[4]);
  }
  if (pos_word.empty()) {
    out->row = out->text[slot_a].empty() && !out->placeholder[slot_a] ? word::key_default : word::key;
    return;
  }
  switch (pos_word[0]) {
    case 'n': out->row = word::nth; break;
    case 'f': out->row = word::first; break;
    case 'l': out->row = word::last; break;
    case 'v': out->row = word::val; break;
    default: out->row = word::none; break;
  }
}

// The element part, inlined where exec runs a line.
[[gnu::always_inline]] inline bool parse_into(const store& s, element_cmd cmd, const token (&t)[max_tokens], int n,
                                              ab_adt* c, uint64_t vkey, element_command* out) {
  out->st = &s;
  out->cmd = cmd;
  out->c = c;
  out->vkey = vkey;
  if (c->is_placeholder()) return fail(failure::placeholder, c->kind_name().data());
  switch (cmd) {
    case element_cmd::get:
      out->row = classify_get(t[2].view());
      put(out, slot_a, token_at(t, n, 3));
      put(out, slot_b, token_at(t, n, 4));
      break;
    case element_cmd::set:
      out->row = classify_set(t[2].view());
      if (n >= 5) put(out, slot_a, t[3]);
      if (n == 6) put(out, slot_b, t[4]);
      put(out, slot_v, t[n - 1]);
      break;
    case element_cmd::del:
      out->row = classify_delete(t[2].view());
      put(out, slot_a, token_at(t, n, 3));
      put(out, slot_b, token_at(t, n, 4));
      break;
    case element_cmd::insert:
      arrange_insert(t, n, out);
      return true;
  }
  out->word_placeholder = is_placeholder(t[2]);
  return true;
}

}  // namespace

bool parse_element(const store& s, element_cmd cmd, const token (&t)[max_tokens], int n, ab_adt* c, uint64_t vkey,
                   element_command* out) {
  return parse_into(s, cmd, t, n, c, vkey, out);
}

bool read_literals(const element_command& cmd, arg_values& v) {
  const row_sig& sig = signature(cmd.cmd, cmd.row);
  for (uint8_t i = 0; i < sig.n; ++i) {
    const arg_sig a = sig.args[i];
    if (!v[a.slot].parse(role_type(*cmd.c, a.role), cmd.text[a.slot])) return false;
  }
  return true;
}

namespace {

[[gnu::always_inline]] inline bool change(const element_command& cmd, arg_values& v, bool literals) {
  switch (cmd.cmd) {
    case element_cmd::get: return false;
    case element_cmd::set: return run_set(cmd, v, literals);
    case element_cmd::insert: return run_insert(cmd, v, literals);
    case element_cmd::del: return run_delete(cmd, v, literals);
  }
  return false;
}

}  // namespace

bool apply_change(const element_command& cmd, arg_values& v) { return change(cmd, v, false); }

[[gnu::always_inline]] inline bool run_inline(const element_command& cmd, arg_values& v, datas* out, bool literals) {
  if (cmd.cmd == element_cmd::get) return run_get(cmd, v, out, literals);
  change_log* log = cmd.st ? cmd.st->log() : nullptr;
  if (!log) [[likely]] return change(cmd, v, literals);
  // The record needs the values before the change is made.
  return (!literals || read_literals(cmd, v)) && journaled_change(*log, cmd, v);
}

bool run_element(const element_command& cmd, arg_values& v, datas* out, bool literals) {
  return run_inline(cmd, v, out, literals);
}

bool exec_element(const store& s, element_cmd cmd, const token (&t)[max_tokens], int n, ab_adt* c, uint64_t vkey,
                  datas* out) {
  element_command ec;
  if (!parse_into(s, cmd, t, n, c, vkey, &ec)) return false;
  arg_values v;
  return run_inline(ec, v, out, true);
}

}  // namespace nosql_db
