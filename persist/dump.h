// The dump (b) and read (r) commands.
#pragma once

#include <cstdint>

#include "catalog/store.h"
#include "lang/codec.h"
#include "lang/tokenizer.h"

namespace nosql_db {

// "b PATH", from the path's word: writes every container to a new file: the header ("vxdb",
// version 0, record count), then one record per container in ascending
// vkey order. Placeholder hashmaps/hashtables, which have no body, are left
// out and not counted. The file is written under a temporary name in the
// same directory, synced, and then linked to PATH without ever replacing
// an existing file; false (and no file under PATH) on any write error, and
// "exists file named PATH" printed when PATH exists, also when another dump
// took the name first. REQUIRES the store lock (shared).
// Format: docs/FORMATS.md, "Writing a dump".
bool write_dump(const store& s, const token& path);

// "r PATH", from the path's word: replaces the store's contents with a dump file. Missing file,
// wrong magic or version: a message, false, the store untouched. Any later
// damage (short file, unknown kind word or type, duplicate name or vkey,
// vkey out of range, a body that does not load, memory exhaustion): false
// with the store empty, the damaged field and record recorded as the
// reason. REQUIRES the exclusive store lock.
// Format: docs/FORMATS.md, "Reading a dump".
bool read_dump(store& s, const token& path);

// Reads record i of a dump (or checkpoint) file and builds its container
// at its vkey; false on any damage, with the damaged field recorded
// (dump_damaged). REQUIRES the exclusive store lock (or a store nobody
// else sees).
// *vkey (when not null) gets the record's vkey.
bool read_record(store& s, dump_in& in, uint64_t i, uint64_t* vkey = nullptr);

}  // namespace nosql_db
