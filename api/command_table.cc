// The command table, and the front end that runs a line through its row.
#include "api/command_table.h"

#include <array>
#include <mutex>
#include <utility>

#include "api/durable.h"
#include "catalog/create.h"
#include "containers/base/rw_lock.h"
#include "ops/ops.h"
#include "persist/dump.h"

namespace nosql_db {
namespace {

// ---- The handlers, from the words and the container ----

template <element_cmd F>
bool element_line(const command_args& a) {
  return exec_element(a.s, F, a.t, a.n, a.c, a.vkey, a.out);
}
bool describe_line(const command_args& a) { return describe_cmd(a.s, a.c, a.vkey, a.out); }
bool erase_line(const command_args& a) {
  a.effect.vkey = a.vkey;
  return erase_cmd(a.s, a.vkey, a.out, a.effect.keep);
}
bool create_line(const command_args& a) { return create_container(a.s, a.t, a.n, a.out, &a.effect.vkey); }
bool clear_line(const command_args& a) {
  if (!a.effect.old) return clear_store(a.s), true;
  // The contents go to a fresh store, leaving this one as freshly built.
  *a.effect.old = std::make_unique<store>();
  (*a.effect.old)->swap(a.s);
  return true;
}
bool dump_line(const command_args& a) { return write_dump(a.s, a.t[1]); }
bool read_line(const command_args& a) { return read_dump(a.s, a.t[1]); }

using cmd = command_id;
using fam = element_cmd;
constexpr store_lock shared = store_lock::shared, exclusive = store_lock::exclusive;
constexpr element_cmd none = element_cmd::get;  // not an element command: unused

// Indexed by command_id. A letter's row is the first with it: clear is the
// five-byte c line (row_of).
constexpr command_row rows[] = {
    // id         letter split words lock       names  batch  family       handler                    in durable mode
    {cmd::get,      'g', true,  3, 5, shared,    true,  true,  fam::get,    element_line<fam::get>,    nullptr},
    {cmd::set,      's', true,  4, 6, shared,    true,  true,  fam::set,    element_line<fam::set>,    nullptr},
    {cmd::insert,   'i', true,  3, 5, shared,    true,  true,  fam::insert, element_line<fam::insert>, nullptr},
    {cmd::del,      'd', true,  3, 5, shared,    true,  true,  fam::del,    element_line<fam::del>,    nullptr},
    {cmd::describe, 'k', true,  1, 2, shared,    true,  true,  none,        describe_line,             nullptr},
    {cmd::erase,    'e', true,  2, 2, exclusive, true,  true,  none,        erase_line,                journaled_erase},
    {cmd::create,   'c', true,  2, 6, exclusive, false, true,  none,        create_line,               journaled_create},
    {cmd::clear,    'c', false, 0, 0, exclusive, false, true,  none,        clear_line,                journaled_clear},
    {cmd::dump,     'b', true,  2, 2, shared,    false, false, none,        dump_line,                 nullptr},
    {cmd::read,     'r', true,  2, 2, exclusive, false, false, none,        read_line,                 durable_read},
};
constexpr size_t row_count = std::size(rows);

consteval bool rows_in_id_order() {
  for (size_t i = 0; i < row_count; ++i)
    if (static_cast<size_t>(rows[i].id) != i) return false;
  return true;
}
static_assert(rows_in_id_order());

// The row index of each first byte, -1 for none.
consteval std::array<int8_t, 256> make_by_letter() {
  std::array<int8_t, 256> a{};
  a.fill(-1);
  for (size_t i = row_count; i-- > 0;) a[static_cast<unsigned char>(rows[i].letter)] = static_cast<int8_t>(i);
  return a;
}
constexpr std::array<int8_t, 256> by_letter = make_by_letter();

// The count and the container, under the lock.
[[gnu::always_inline]] inline bool words_inline(store& s, const command_row& r, const token (&t)[max_tokens], int n,
                                                datas* out, command_effect& effect) {
  if (r.split && !token_count_ok(n, r.min_words, r.max_words)) return false;
  ab_adt* c = nullptr;
  uint64_t vkey = 0;
  if (r.names_container && n >= 2 && !(c = resolve_container(s, t[1], &vkey))) return false;
  return r.run(command_args{s, t, n, c, vkey, out, effect});
}

[[gnu::always_inline]] inline bool locked_inline(store& s, const command_row& r, const char* line, int64_t len,
                                                 datas* out, command_effect& effect) {
  token t[max_tokens];
  const int n = r.split ? split_tokens(line, len, t) : 0;
  return words_inline(s, r, t, n, out, effect);
}

// Row I's front end, with the row's fields known where it is compiled. A
// command that takes the store lock shared splits its line before taking
// it; one that takes it exclusively splits under it, after durable mode
// has reserved its record's room (so that a failed journal is the reason
// before any in the line).
template <size_t I>
bool run_row(store& s, const char* line, int64_t len, datas* out) {
  constexpr command_row r = rows[I];
  command_effect effect;
  if constexpr (r.lock == store_lock::shared) {
    token t[max_tokens];
    const int n = r.split ? split_tokens(line, len, t) : 0;
    read_guard l(s.lock);
    return words_inline(s, r, t, n, out, effect);
  } else {
    std::unique_lock<rw_lock> l(s.lock);
    if constexpr (r.durable != nullptr) {
      if (s.log()) return r.durable(s, rows[I], line, len, out);
    }
    return locked_inline(s, r, line, len, out, effect);
  }
}

using row_runner = bool (*)(store&, const char*, int64_t, datas*);
template <size_t... I>
consteval std::array<row_runner, row_count> make_runners(std::index_sequence<I...>) {
  return {&run_row<I>...};
}
constexpr std::array<row_runner, row_count> runners = make_runners(std::make_index_sequence<row_count>());

// Any five-byte line that begins with c clears the store.
[[gnu::always_inline]] inline int row_of(const char* line, int64_t len) noexcept {
  if (len == 5 && line[0] == 'c') return static_cast<int>(cmd::clear);
  return by_letter[static_cast<unsigned char>(line[0])];
}

}  // namespace

const command_row* find_command(const char* line, int64_t len) noexcept {
  const int i = row_of(line, len);
  return i < 0 ? nullptr : &rows[i];
}

bool run_line(store& s, const char* line, int64_t len, datas* out) {
  const int i = row_of(line, len);
  if (i < 0) return fail(failure::unknown_command);
  return runners[static_cast<size_t>(i)](s, line, len, out);
}

bool run_locked(store& s, const command_row& r, const char* line, int64_t len, datas* out, command_effect& effect) {
  return locked_inline(s, r, line, len, out, effect);
}

bool parse_element_words(const store& s, const command_row& r, const token (&t)[max_tokens], int n,
                         element_command* out) {
  if (!token_count_ok(n, r.min_words, r.max_words)) return false;
  uint64_t vkey;
  ab_adt* c = resolve_container(s, t[1], &vkey);
  return c && parse_element(s, r.family, t, n, c, vkey, out);
}

}  // namespace nosql_db
