// The front end of the element commands, their rows' signatures, and the
// one call that runs a parsed command.
#include "ops/command.h"

#include <array>

#include "ops/ops.h"
#include "ops/record.h"

namespace nosql_db {
namespace {

constexpr arg_sig key_a{slot_a, arg_role::key}, key_b{slot_b, arg_role::key}, count_a{slot_a, arg_role::count},
    count_b{slot_b, arg_role::count}, key_v{slot_v, arg_role::key}, value_v{slot_v, arg_role::value};

using sig_table = std::array<row_sig, word_count>;

consteval row_sig sig(std::initializer_list<arg_sig> args) {
  row_sig r{};
  for (const arg_sig& a : args) r.args[r.n++] = a;
  return r;
}

constexpr word one_key_words[] = {word::equal, word::gt, word::ge, word::lt, word::le};
constexpr word range_words[] = {word::le_ge, word::le_gt, word::lt_ge, word::lt_gt};
constexpr word count_words[] = {word::first_n, word::last_n, word::min_n, word::max_n, word::nth};

consteval sig_table make_get() {
  sig_table t{};
  for (word w : one_key_words) t[int(w)] = sig({key_a});
  for (word w : {word::contain, word::ucontain, word::index, word::pos, word::rank, word::value})
    t[int(w)] = sig({key_a});
  for (word w : count_words) t[int(w)] = sig({count_a});
  for (word w : {word::pos_n, word::pos_p, word::val}) t[int(w)] = sig({count_a});
  for (word w : range_words) t[int(w)] = sig({key_a, key_b});
  t[int(word::range)] = sig({count_a, count_b});
  return t;
}

// The set command reads its new value first (a bad one fails every word,
// unknown words included), except for `value`, whose key comes first.
consteval sig_table make_set() {
  sig_table t{};
  for (row_sig& r : t) r = sig({key_v});
  for (word w : one_key_words) t[int(w)] = sig({key_v, key_a});
  for (word w : range_words) t[int(w)] = sig({key_v, key_a, key_b});
  for (word w : count_words) t[int(w)] = sig({key_v, count_a});
  t[int(word::val)] = sig({key_v, count_a});
  t[int(word::range)] = sig({key_v, count_a, count_b});
  t[int(word::value)] = sig({key_a, value_v});
  return t;
}

consteval sig_table make_delete() {
  sig_table t{};
  for (word w : one_key_words) t[int(w)] = sig({key_a});
  for (word w : range_words) t[int(w)] = sig({key_a, key_b});
  for (word w : count_words) t[int(w)] = sig({count_a});
  t[int(word::pos)] = sig({count_a});
  t[int(word::range)] = sig({count_a, count_b});
  return t;
}

// Insert: `where` is in place A, `what` in the value place.
consteval sig_table make_insert() {
  sig_table t{};
  t[int(word::key)] = sig({key_a, value_v});
  t[int(word::key_default)] = sig({key_v});
  t[int(word::nth)] = sig({key_v, count_a});
  t[int(word::first)] = sig({key_v});
  t[int(word::last)] = sig({key_v});
  t[int(word::val)] = sig({count_a, key_v});
  return t;
}

constexpr sig_table get_sigs = make_get(), set_sigs = make_set(), delete_sigs = make_delete(),
                    insert_sigs = make_insert();

bool is_placeholder(const token& t) noexcept { return !t.quoted && t.length == 1 && t.text[0] == '?'; }

void put(element_command* out, uint8_t slot, const token& t) noexcept {
  out->text[slot] = t.view();
  out->placeholder[slot] = is_placeholder(t);
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

}  // namespace

row_sig signature(element_cmd cmd, word row) noexcept {
  const auto i = static_cast<size_t>(row);
  switch (cmd) {
    case element_cmd::get: return get_sigs[i];
    case element_cmd::set: return set_sigs[i];
    case element_cmd::insert: return insert_sigs[i];
    case element_cmd::del: return delete_sigs[i];
  }
  return {};
}

bool parse_element(const store& s, element_cmd cmd, const token (&t)[max_tokens], int n, element_command* out) {
  const bool count_ok = cmd == element_cmd::set ? token_count_ok(n, 4, 6) : token_count_ok(n, 3, 5);
  if (!count_ok) return false;
  out->st = &s;
  out->cmd = cmd;
  out->c = resolve_container(s, t[1], &out->vkey);
  if (!out->c) return false;
  if (!takes_element_commands(*out->c)) return fail(failure::placeholder, out->c->kind_name().data());
  switch (cmd) {
    case element_cmd::get:
      out->row = classify_get(t[2].view());
      put(out, slot_a, t[3]);
      put(out, slot_b, t[4]);
      break;
    case element_cmd::set:
      out->row = classify_set(t[2].view());
      if (n >= 5) put(out, slot_a, t[3]);
      if (n == 6) put(out, slot_b, t[4]);
      put(out, slot_v, t[n - 1]);
      break;
    case element_cmd::del:
      out->row = classify_delete(t[2].view());
      put(out, slot_a, t[3]);
      put(out, slot_b, t[4]);
      break;
    case element_cmd::insert:
      arrange_insert(t, n, out);
      return true;
  }
  out->word_placeholder = is_placeholder(t[2]);
  return true;
}

scalar role_type(const ab_adt& c, arg_role r) noexcept {
  switch (r) {
    case arg_role::key: return c.key_type();
    case arg_role::value: return c.value_type();
    case arg_role::count: return scalar::u64;
  }
  return scalar::none;
}

bool read_literals(const element_command& cmd, arg_values& v) {
  const row_sig sig = signature(cmd.cmd, cmd.row);
  for (uint8_t i = 0; i < sig.n; ++i) {
    const arg_sig a = sig.args[i];
    if (!v[a.slot].parse(role_type(*cmd.c, a.role), cmd.text[a.slot])) return false;
  }
  return true;
}

bool apply_change(const element_command& cmd, const arg_values& v) {
  switch (cmd.cmd) {
    case element_cmd::get: return false;
    case element_cmd::set: return run_set(*cmd.c, cmd.row, v);
    case element_cmd::insert: return run_insert(*cmd.c, cmd.row, v);
    case element_cmd::del: return run_delete(*cmd.c, cmd.row, v);
  }
  return false;
}

bool run_element(const element_command& cmd, const arg_values& v, datas* out) {
  if (cmd.cmd == element_cmd::get) return run_get(*cmd.c, cmd.row, v, out);
  change_log* log = cmd.st ? cmd.st->log() : nullptr;
  return log ? journaled_change(*log, cmd, v) : apply_change(cmd, v);
}

}  // namespace nosql_db
