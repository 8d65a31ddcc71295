// Batches: several commands made as one, all or nothing, that no other
// thread sees half done.
//
// A batch of gets, sets, inserts, deletes and describes takes the store
// lock shared and holds every container it names exclusively, taken in
// ascending vkey order (so two batches cannot wait for each other), for
// the whole batch; commands on other containers go on meanwhile. A batch
// that also creates, erases or clears takes the store lock exclusively:
// nothing else runs meanwhile. Dumps and reads are refused in a batch.
//
// Each container the batch changes keeps a record of how to take its
// changes back (containers/container.h: begin_undo); a command that fails
// (or runs out of memory) takes back every change before it, newest first,
// at a cost in proportion to what changed. A dump or a checkpoint never
// sees part of a batch: a batch settles the running snapshot for all its
// containers at once, before it changes any. In durable mode the batch is
// one journal record: after a crash it is there whole or not at all.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "api/statement.h"
#include "catalog/store.h"
#include "lang/result_set.h"

namespace nosql_db {

// One command of a batch: a line, or a prepared statement with its values.
struct batch_item {
  std::string_view line;
  statement* st = nullptr;
};

// Runs the items as one. On success returns their number and fills
// results[0..n) with their answers (the host's to free); on failure
// returns -1, with no answers, the store as it was, and the failed
// command's reason recorded with its index as the record.
int64_t run_batch(store& s, const batch_item* items, int64_t n, datas** results);

// The lines of a batch's text, split at line feeds; a line feed at the very
// end starts no line. May throw std::bad_alloc.
std::vector<batch_item> batch_lines(std::string_view text);

}  // namespace nosql_db
