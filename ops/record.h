// The records of the journal: what each change of the store is, written
// down so that it can be made again on a checkpoint when the store is
// recovered. (The file around them, its framing, checksums and syncs, is
// persist/journal's.)
//
// Format: docs/FORMATS.md, "Journal records". A record is its type byte and
// a body; element changes carry their argument values in the encoding of
// dump elements, in the order of the row's signature, so that the
// container's types (found again by vkey) are all a reader needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "catalog/store.h"
#include "ops/command.h"

namespace nosql_db {

// DO NOT RENUMBER: the values are written in journals.
enum class record_type : uint8_t { change = 1, create = 2, erase = 3, clear = 4, batch = 5 };

// Appends the record of an element change (set, insert or delete) with its
// values. May throw std::bad_alloc.
void encode_change(std::string* out, const element_command& cmd, const arg_values& v);
// Appends the record of a create that put c at vkey.
// REQUIRES c's lock free (its size and handles are read).
void encode_create(std::string* out, uint64_t vkey, const ab_adt& c);
void encode_erase(std::string* out, uint64_t vkey);
void encode_clear(std::string* out);

// Makes the change a record describes on s, which has no journal. False,
// with the reason recorded, when the record is damaged or does not apply
// to s (a vkey without a container, a change its container refuses).
bool replay_record(store& s, std::string_view record);

// An element change in durable mode: takes the container's exclusive hold,
// reserves room for the record, makes the change, appends the record (or
// gives the room back when the change failed), lets go, then settles the
// record as the sync mode wants. A change that cannot be journaled is not
// made. REQUIRES the store lock (shared).
bool journaled_change(change_log& log, const element_command& cmd, arg_values& v);

// Runs an element change (set, insert, delete) with the values in v,
// without journaling it.
bool apply_change(const element_command& cmd, arg_values& v);

}  // namespace nosql_db
