// Checkpoints of durable mode: the whole store at one instant, in files
// named checkpoint-<sequence>.vxck (16 hex digits) beside the journal.
//
// Format: docs/FORMATS.md, "Checkpoint file": the records of a dump, each
// followed by what a dump does not keep (a list's position handles), then
// the order of the free vkeys, then a CRC-32C of everything before it. A
// checkpoint is written under the name checkpoint-<sequence>.vxck.tmp,
// synced, renamed and the directory synced, so a name without ".tmp" is
// always a whole file; a leftover ".tmp" (a killed checkpoint) is removed
// by the next successful open.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalog/store.h"

namespace nosql_db {

std::string checkpoint_name(uint64_t seq);

// Writes checkpoint seq of s, as it stands at the instant of a snapshot
// walk, into the directory dir_fd; at_instant(epoch) runs at that instant
// (the journal starts its next file there) and may fail it. False, with
// the reason recorded (checkpoint_failed), on failure; no file is left
// under the final name then. REQUIRES the store lock (shared or exclusive).
bool write_checkpoint(const store& s, int dir_fd, uint64_t seq, const std::function<bool(uint64_t)>& at_instant);

// Reads checkpoint seq into s, which must be empty and seen by nobody else.
// False on any damage, with the reason recorded (durable_damaged: the file's
// name and the offset where the damage shows).
bool read_checkpoint(store& s, int dir_fd, uint64_t seq);

}  // namespace nosql_db
