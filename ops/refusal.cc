// The rows of the insert, set and delete commands: which kinds answer each,
// and what a refusal by an answering kind means.
#include "ops/refusal.h"

#include <array>

namespace nosql_db {
namespace {

// A row's kinds are a mask with one bit per kind.
static_assert(kind_count <= 16);
constexpr uint16_t bit(kind k) { return static_cast<uint16_t>(1u << static_cast<unsigned>(k)); }

constexpr uint16_t vec = bit(kind::vector), lst = bit(kind::list), deq = bit(kind::deque), que = bit(kind::queue),
                   stk = bit(kind::stack), heap = bit(kind::heap), hm = bit(kind::hashmap),
                   ht = bit(kind::hashtable), trie = bit(kind::trie);
constexpr uint16_t sets = bit(kind::set) | bit(kind::multiset);
constexpr uint16_t maps = bit(kind::map) | bit(kind::multimap);
constexpr uint16_t sequences = vec | lst | deq;  // the kinds with positions
constexpr uint16_t ordered = sets | maps;
constexpr uint16_t keyed = ordered | hm | ht;
constexpr uint16_t every = sequences | que | stk | heap | keyed | trie;

struct row {
  uint16_t kinds = 0;                         // the kinds that answer
  failure if_empty = failure::refused;        // a refusal by an empty container
  failure otherwise = failure::refused;       // any other refusal
};
using table = std::array<row, word_count>;

constexpr failure empty = failure::empty_container, position = failure::position_out_of_range,
                  handle = failure::handle_not_live, absent = failure::key_absent, present = failure::key_present;

consteval table make_insert() {
  table t{};
  t[int(word::key)] = {heap | keyed | trie};  // decided by key_insert_refused
  t[int(word::key_default)] = {heap | keyed | trie};
  t[int(word::first)] = {sequences};
  t[int(word::last)] = {sequences | que | stk};
  t[int(word::nth)] = {sequences, position, position};
  t[int(word::val)] = {lst, handle, handle};
  return t;
}

consteval table make_set() {
  table t{};
  t[int(word::all)] = {sequences | que | stk, empty};
  t[int(word::first)] = {sequences | que, empty};
  t[int(word::last)] = {sequences | que | stk, empty};
  t[int(word::first_n)] = {sequences, position, position};
  t[int(word::last_n)] = {sequences, position, position};
  t[int(word::nth)] = {sequences, position, position};
  t[int(word::range)] = {sequences, position, position};
  // The re-keying rows other than min and max: decided by rekey_refused
  // once the container holds elements.
  t[int(word::equal)] = {keyed, empty};
  for (word w : {word::gt, word::ge, word::lt, word::le, word::le_ge, word::le_gt, word::lt_ge, word::lt_gt,
                 word::min_n, word::max_n})
    t[int(w)] = {sets, empty};
  // Re-keying the smallest or largest entry of a map to a key another
  // entry holds.
  t[int(word::min)] = {heap | ordered, empty, present};
  t[int(word::max)] = {ordered, empty, present};
  t[int(word::val)] = {lst, handle, handle};
  t[int(word::value)] = {maps | hm, absent, absent};
  return t;
}

consteval table make_delete() {
  table t{};
  t[int(word::all)] = {every};
  t[int(word::equal)] = {keyed, empty, absent};
  t[int(word::first)] = {sequences | que, empty};
  t[int(word::last)] = {sequences | stk, empty};
  t[int(word::first_n)] = {sequences, empty, position};
  t[int(word::last_n)] = {sequences, empty, position};
  t[int(word::nth)] = {vec | lst, position, position};
  t[int(word::range)] = {vec | lst, position, position};
  t[int(word::pos)] = {lst, handle, handle};
  for (word w : {word::gt, word::ge, word::lt, word::le, word::le_ge, word::le_gt, word::lt_ge, word::lt_gt})
    t[int(w)] = {sets, empty, absent};
  t[int(word::min)] = {heap | ordered, empty};
  t[int(word::max)] = {ordered, empty};
  t[int(word::min_n)] = {sets, empty, position};
  t[int(word::max_n)] = {sets, empty, position};
  return t;
}

// The get command's rows: a kind that does not answer one gives no column.
consteval table make_get() {
  table t{};
  for (word w : {word::all, word::count, word::con_type, word::key_type, word::val_type}) t[int(w)] = {every};
  t[int(word::contain)] = t[int(word::ucontain)] = {trie};
  t[int(word::equal)] = {keyed};
  t[int(word::first)] = t[int(word::index)] = {sequences | que};
  t[int(word::last)] = {sequences | que | stk};
  for (word w : {word::first_n, word::last_n, word::nth, word::range}) t[int(w)] = {sequences};
  for (word w : {word::gt, word::ge, word::lt, word::le, word::le_ge, word::le_gt, word::lt_ge, word::lt_gt,
                 word::min_n, word::max_n, word::rank})
    t[int(w)] = {sets};
  t[int(word::min)] = {heap | ordered};
  t[int(word::max)] = {ordered};
  for (word w : {word::pos, word::pos_n, word::pos_p, word::val}) t[int(w)] = {lst};
  t[int(word::value)] = {maps | hm};
  return t;
}

constexpr table get_rows = make_get(), insert_rows = make_insert(), set_rows = make_set(),
                delete_rows = make_delete();

const row& row_of(element_cmd cmd, word w) noexcept {
  const table& t = cmd == element_cmd::get      ? get_rows
                   : cmd == element_cmd::insert ? insert_rows
                   : cmd == element_cmd::set    ? set_rows
                                                : delete_rows;
  return t[static_cast<size_t>(w)];
}

}  // namespace

bool answers(element_cmd cmd, word w, kind k) noexcept {
  return static_cast<unsigned>(k) < kind_count && (row_of(cmd, w).kinds & bit(k)) != 0;
}

bool refused(const ab_adt& c, element_cmd cmd, word w, bool nan_key) noexcept {
  const kind k = c.kind_id();
  if (!answers(cmd, w, k)) return fail(failure::kind_lacks_word, c.kind_name().data());
  // Ordered kinds keep no NaN: it has no place in their order.
  if (nan_key && (ordered & bit(k))) return fail(failure::nan_key);
  const row& r = row_of(cmd, w);
  return fail(c.size() == 0 ? r.if_empty : r.otherwise);
}

bool rekey_refused(const ab_adt& c, word w, bool nan_key, bool selected_none) noexcept {
  const kind k = c.kind_id();
  if (!answers(element_cmd::set, w, k) || (nan_key && (ordered & bit(k))) || c.size() == 0)
    return refused(c, element_cmd::set, w, nan_key);
  if (selected_none) return fail(w == word::min_n || w == word::max_n ? position : absent);
  if (w == word::equal && k == kind::map) return fail(present);
  if (w == word::equal && (bit(k) & (hm | ht))) return fail(failure::beyond_buckets);
  return fail(failure::refused);
}

}  // namespace nosql_db
