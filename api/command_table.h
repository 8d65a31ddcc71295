// The command table and the front end that every command line goes through.
//
// A line's first byte chooses its row (any five-byte line that begins with
// c is clear). The row says how many words the line has, which store lock
// the command takes, whether word 1 names a container, and which handler
// runs it. The front end splits the line once (before the lock for the
// commands that take it shared, under it for the others), checks the word
// count, resolves the container, and calls the handler with the words and
// the container. In durable mode a row may run through its own journaling
// step instead, which calls back into the front end under the lock.
#pragma once

#include <cstdint>
#include <memory>

#include "catalog/store.h"
#include "lang/result_set.h"
#include "lang/tokenizer.h"
#include "ops/command.h"

namespace nosql_db {

enum class command_id : uint8_t { get, set, insert, del, describe, erase, create, clear, dump, read };
enum class store_lock : uint8_t { shared, exclusive };

// What a catalog command leaves its caller beyond its answer.
struct command_effect {
  uint64_t vkey = 0;                       // create and erase: the container made or dropped
  std::unique_ptr<ab_adt>* keep = nullptr;  // erase: takes the container over instead of destroying it
  std::unique_ptr<store>* old = nullptr;    // clear: takes the store's contents over likewise
};

// What a handler is given: the words, their count, and the container that
// word 1 names (null when the row names none or the line has no word 1).
struct command_args {
  store& s;
  const token (&t)[max_tokens];
  int n;
  ab_adt* c;
  uint64_t vkey;
  datas* out;
  command_effect& effect;
};

struct command_row;
using command_handler = bool (*)(const command_args&);
// A row's step in durable mode, under the lock: journals the change that
// run_locked(s, r, ...) makes.
using durable_step = bool (*)(store& s, const command_row& r, const char* line, int64_t len, datas* out);

struct command_row {
  command_id id;
  char letter;
  bool split;  // false: the words are not read (clear)
  uint8_t min_words, max_words;
  store_lock lock;
  bool names_container;  // word 1, when the line has it, names a container
  bool in_batch;         // a batch may run it
  element_cmd family;    // get, set, insert and delete: the element family
  command_handler run;
  durable_step durable;  // null: the same as outside durable mode

  bool element() const noexcept { return id <= command_id::del; }
};

// The row of a line of at least one byte (len != 0), or null for an
// unknown command.
const command_row* find_command(const char* line, int64_t len) noexcept;

// Runs a line (len != 0) through its row: split, lock, count, container,
// handler. False, with the reason recorded, for an unknown command and any
// failure after. May throw std::bad_alloc, with every lock released.
bool run_line(store& s, const char* line, int64_t len, datas* out);

// The front end's steps under the store lock, which the caller holds in the
// row's mode: the line split, the words counted, the container resolved,
// the handler run. For the durable steps and for batches.
bool run_locked(store& s, const command_row& r, const char* line, int64_t len, datas* out, command_effect& effect);

// An element command's words read as the front end reads them, to be run
// later (batches, prepared statements): the count checked, the container
// resolved, then parse_element (ops/command.h). REQUIRES the store lock.
bool parse_element_words(const store& s, const command_row& r, const token (&t)[max_tokens], int n,
                         element_command* out);

}  // namespace nosql_db
