// Writing the store as it stood at one instant while commands go on.
//
// A walk publishes a new snapshot epoch (containers/hold.h), then writes
// the containers in ascending vkey order, each under its own shared lock:
// a container nobody changed since the epoch was published is written as
// it is; one that a writer was about to change was handed over first, and
// its copy, taken then, is written instead. The walk holds the store lock
// shared (no container comes or goes) and at most one container lock at a
// time; writers never wait for the walk, only for the one container it is
// writing. One walk runs at a time; a second waits for the first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "catalog/store.h"
#include "lang/codec.h"

namespace nosql_db {

// A container's part of a record, from the kind word on: save(), then, for
// a checkpoint, the u64 length and bytes of save_extras().
// REQUIRES c's lock held by the caller.
void write_body(dump_out& out, const ab_adt& c, bool with_extras);

struct snapshot_walk {
  bool with_extras = false;
  // Called once, at the instant, with the snapshot's epoch: the writers
  // that see that epoch are not in the snapshot.
  std::function<void(uint64_t epoch)> at_instant;
  // Called for each saved container in ascending vkey order: write the
  // record's start (name, vkey), then the body: `copy` when it is not null,
  // otherwise write_body(c) (c is held shared meanwhile). False stops the
  // walk.
  std::function<bool(uint64_t vkey, const ab_adt& c, const std::string* copy)> container;
};

// Runs the walk over s. REQUIRES the store lock (shared or exclusive).
// May throw std::bad_alloc (from the callbacks).
bool walk_snapshot(const store& s, const snapshot_walk& w);

}  // namespace nosql_db
