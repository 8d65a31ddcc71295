// The element commands (get, set, insert, delete) in one parsed form.
//
// Every line of these four families goes through one front end: the words
// are counted, the container resolved (a placeholder hash container
// refused), the sub-command word classified and the argument words put in
// their places: A, B and the value word (for insert: `where` in A and
// `what` in the value place). A row's signature says which of those it
// reads, in which order and as which type (the container's key type K,
// its value type V, or an unsigned count). exec reads the literals into
// argument boxes; a prepared statement reads its literals once and binds
// the rest; both then call run_element. There is no other way in.
#pragma once

#include <cstdint>
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
row_sig signature(element_cmd cmd, word row) noexcept;

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

// The front end: t[0..n) are the words of a line whose first byte chose
// cmd. False, with the reason recorded, for a wrong word count, a reference
// that resolves to no container, a placeholder hash container, or (delete,
// insert) a word that matches no row. REQUIRES the store lock.
bool parse_element(const store& s, element_cmd cmd, const token (&t)[max_tokens], int n, element_command* out);

// The type an argument of role r takes in container c.
scalar role_type(const ab_adt& c, arg_role r) noexcept;

using arg_values = value_box[arg_slots];

// Reads the literal words that the row's signature names, in order; false
// (reason recorded) at the first that does not read as its type.
bool read_literals(const element_command& cmd, arg_values& v);

// Runs the command with its argument values, appending the answer to out;
// a change is journaled when the store has a journal (ops/record.h).
// REQUIRES the store lock (shared); the container's lock is taken inside.
bool run_element(const element_command& cmd, const arg_values& v, datas* out);

// The typed halves, one per family (get.cc, set.cc, insert.cc, delete.cc).
bool run_get(const ab_adt& c, word row, const arg_values& v, datas* out);
bool run_set(ab_adt& c, word row, const arg_values& v);
bool run_insert(ab_adt& c, word row, const arg_values& v);
bool run_delete(ab_adt& c, word row, const arg_values& v);

}  // namespace nosql_db
