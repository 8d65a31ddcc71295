// Durable mode: the store journaled into a directory, with checkpoints,
// and recovered from it when the mode is turned on.
//
// The directory holds a LOCK file (one process at a time, by flock), the
// newest checkpoint (persist/checkpoint) and the journals that follow it
// (persist/journal). Turning the mode on over a directory that holds a
// store replaces the current store with it: the newest checkpoint that
// reads back whole, then its journals replayed over it in order, into a
// store of its own that takes the current one's place only when all of it
// has been read; over an empty directory, the current store becomes its
// first checkpoint. A failed open changes nothing, in the store or in the
// directory.
//
// While the mode is on, every change is journaled before the command that
// made it returns: element changes by ops/record, create, erase and clear
// here, under the exclusive store lock. A read (r) is followed at once by
// a checkpoint, since the file it read may be gone when the journal is
// replayed; if that checkpoint fails, the read is undone.
#pragma once

#include <cstdint>

#include "catalog/store.h"
#include "lang/result_set.h"

namespace nosql_db {

// Each returns 0, or a failure code with the reason recorded.
int32_t durable_open(store& s, const char* dir, int32_t sync);
int32_t durable_checkpoint(store& s);
int32_t durable_close(store& s);

// The durable steps of the command table's rows (api/command_table.h):
// create, clear and erase journaled, read kept only with a checkpoint.
// Each runs the line through the front end itself. REQUIRES the exclusive
// store lock and s.log() not null.
struct command_row;
bool journaled_create(store& s, const command_row& r, const char* line, int64_t len, datas* out);
bool journaled_clear(store& s, const command_row& r, const char* line, int64_t len, datas* out);
bool journaled_erase(store& s, const command_row& r, const char* line, int64_t len, datas* out);
bool durable_read(store& s, const command_row& r, const char* line, int64_t len, datas* out);

}  // namespace nosql_db
