// The element commands (get, set, insert, delete) in one parsed form.
//
// Every line of these four families goes through one front end: the command
// table (api/command_table.h) counts the words and resolves the container;
// the element part here refuses a placeholder hash container, classifies the
// sub-command word and puts the argument words in their places: A, B and the
// value word (for insert: `where` in A and `what` in the value place). A
// row's signature says which of those it reads, in which order and as which
// type (the container's key type K, its value type V, or an unsigned count).
// exec reads the literals into argument boxes; a prepared statement reads
// its literals once and binds the rest; both then call run_element. There is
// no other way in.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "catalog/store.h"
#include "lang/result_set.h"
#include "lang/tokenizer.h"
#include "ops/typed.h"
#include "ops/words.h"

namespace nosql_db {

// What an argument is read as: a key or element (K), a value (V), or a
// position, count or handle (u64).
enum class arg_role : uint8_t { key, value, count };

// Argument places: A, B and the value word.
inline constexpr int arg_slots = 3;
inline constexpr uint8_t slot_a = 0, slot_b = 1, slot_v = 2;

struct arg_sig {
  uint8_t slot;
  arg_role role;
};
// The arguments a row reads, in reading order (which decides the reason
// when several are bad).
struct row_sig {
  uint8_t n = 0;
  arg_sig args[3]{};
};
namespace signatures {

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

// By family, in element_cmd's order.
constexpr sig_table sigs[4] = {make_get(), make_insert(), make_set(), make_delete()};
static_assert(static_cast<int>(element_cmd::get) == 0 && static_cast<int>(element_cmd::insert) == 1 &&
              static_cast<int>(element_cmd::set) == 2 && static_cast<int>(element_cmd::del) == 3);

}  // namespace signatures

inline const row_sig& signature(element_cmd cmd, word row) noexcept {
  return signatures::sigs[static_cast<size_t>(cmd) & 3][static_cast<size_t>(row)];
}

// The type an argument of role r takes in container c.
inline scalar role_type(const ab_adt& c, arg_role r) noexcept {
  return r == arg_role::key ? c.key_type() : r == arg_role::value ? c.value_type() : scalar::u64;
}

struct element_command {
  const store* st = nullptr;  // where the container is
  element_cmd cmd = element_cmd::get;
  word row = word::none;
  ab_adt* c = nullptr;
  uint64_t vkey = 0;
  std::string_view text[arg_slots];   // the words in places A, B and value
  bool placeholder[arg_slots] = {};   // the word there is a bare ?
  bool word_placeholder = false;      // a bare ? stands where a word belongs
};

// The element part of the front end: t[0..n) are the words of a line whose
// first byte chose cmd, their count checked, and word 1 names c at vkey.
// False, with the reason recorded, for a placeholder hash container; a word
// that matches no row is row none, refused when the command runs.
// REQUIRES the store lock.
bool parse_element(const store& s, element_cmd cmd, const token (&t)[max_tokens], int n, ab_adt* c, uint64_t vkey,
                   element_command* out);

using arg_values = value_box[arg_slots];

// The operation of a word that answers with a list of elements (get's list
// rows; the selections that set's re-keying rows make): the container's
// answer, the elements in *out. False for a word that names none.
template <class K>
bool list_op(const adt<K>& c, word w, const arg_values& v, elem_array<K>* out) {
  const K& k1 = v[slot_a].get<K>();
  const K& k2 = v[slot_b].get<K>();
  const uint64_t n = v[slot_a].get<uint64_t>();
  switch (w) {
    case word::all: return c.get_all(out);
    case word::equal: return c.get_eq(k1, out);
    case word::gt: return c.get_gt(k1, out);
    case word::ge: return c.get_ge(k1, out);
    case word::lt: return c.get_lt(k1, out);
    case word::le: return c.get_le(k1, out);
    case word::le_ge: return c.get_le_ge(k1, k2, out);
    case word::le_gt: return c.get_le_gt(k1, k2, out);
    case word::lt_ge: return c.get_lt_ge(k1, k2, out);
    case word::lt_gt: return c.get_lt_gt(k1, k2, out);
    case word::first_n: return c.get_first_n(n, out);
    case word::last_n: return c.get_last_n(n, out);
    case word::min_n: return c.get_min_n(n, out);
    case word::max_n: return c.get_max_n(n, out);
    case word::range: return c.get_range(n, v[slot_b].get<uint64_t>(), out);
    default: return false;
  }
}

// Reads the literal words that the row's signature names, in order; false
// (reason recorded) at the first that does not read as its type.
bool read_literals(const element_command& cmd, arg_values& v);
// The same where the key type K is known.
template <class K>
[[gnu::always_inline]] inline bool read_literals_as(const element_command& cmd, arg_values& v) {
  const row_sig& sig = signature(cmd.cmd, cmd.row);
  if (sig.n == 0) return true;
  for (uint8_t i = 0; i < sig.n; ++i) {
    const arg_sig a = sig.args[i];
    value_box& b = v[a.slot];
    const std::string_view t = cmd.text[a.slot];
    const bool ok = a.role == arg_role::key     ? b.parse_as<K>(t)
                    : a.role == arg_role::count ? b.parse_as<uint64_t>(t)
                                                : b.parse(cmd.c->value_type(), t);
    if (!ok) return false;
  }
  return true;
}

// Runs the command with its argument values, appending the answer to out;
// with `literals`, reads them from the command's words first. A change is
// journaled when the store has a journal (ops/record.h). REQUIRES the store
// lock (shared); the container's lock is taken inside.
bool run_element(const element_command& cmd, arg_values& v, datas* out, bool literals);

// The rest of an element command line through exec, after the front end:
// parse_element, read the literals, run. REQUIRES the store lock (shared).
bool exec_element(const store& s, element_cmd cmd, const token (&t)[max_tokens], int n, ab_adt* c, uint64_t vkey,
                  datas* out);

// The typed halves, one per family (get.cc, set.cc, insert.cc, delete.cc),
// each reading the literals first when asked to.
bool run_get(const element_command& cmd, arg_values& v, datas* out, bool literals);
bool run_set(const element_command& cmd, arg_values& v, bool literals);
bool run_insert(const element_command& cmd, arg_values& v, bool literals);
bool run_delete(const element_command& cmd, arg_values& v, bool literals);

}  // namespace nosql_db
