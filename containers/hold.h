// Holding a container: the locks taken inside container operations, the
// hold a command takes over several of them, and what a running snapshot
// is owed before a container changes.
//
// Every container operation takes its container's lock (read_lock,
// write_lock below). A command that must do more than one thing under one
// exclusive hold (journal a change in the order the changes happen, run a
// batch) takes an exclusive_hold first; the hold marks the container as
// held by the calling thread, and the operations it then calls see that
// and take no lock of their own. Only the holding thread ever reads its
// own token there, so a plain atomic load tells.
//
// Snapshots of one instant. A snapshot (a dump, a checkpoint) begins by
// publishing a new epoch; from then on, whoever takes a container
// exclusively and finds that the container has not been handled for that
// epoch first hands it to the snapshot's sink, which keeps a copy of it as
// it stands; the snapshot writes that copy when it reaches the container,
// and the container itself when nobody changed it meanwhile. Each
// container is so written as it was when the epoch was published. The
// writer pays for a copy of the one container it touches, once per
// snapshot.
#pragma once

#include <atomic>
#include <cstdint>

#include "containers/container.h"

namespace nosql_db {

// Where a running snapshot keeps the containers that writers are about to
// change. keep() runs under the container's exclusive hold, before any
// change; it may throw std::bad_alloc (the change then fails).
class snapshot_sink {
 public:
  virtual void keep(const ab_adt& c, uint64_t epoch) = 0;

 protected:
  ~snapshot_sink() = default;
};

// The epoch of the running snapshot, 0 when none runs, and its sink (set
// before the epoch is published, kept valid for the life of the process).
extern std::atomic<uint64_t> running_snapshot;
extern std::atomic<snapshot_sink*> snapshot_target;

// Gives the running snapshot (epoch e, when not 0) what it is owed of c.
// REQUIRES c held exclusively by the calling thread, before any change.
void settle_snapshot(const ab_adt& c, uint64_t e);
inline uint64_t settle_snapshot(const ab_adt& c) {
  const uint64_t e = running_snapshot.load(std::memory_order_acquire);
  if (e != 0 && e > c.snapshot_epoch().load(std::memory_order_relaxed)) settle_snapshot(c, e);
  return e;
}

// Takes c's lock exclusively and marks it held by the calling thread;
// then settles the running snapshot (against e when given, else the
// current epoch, which is returned). Lets go of everything if that throws.
inline void release_exclusive(const ab_adt& c) noexcept {
  c.holder().store(0, std::memory_order_relaxed);
  c.lock().unlock();
}
inline uint64_t take_exclusive(const ab_adt& c, const uint64_t* e = nullptr) {
  c.lock().lock();
  c.holder().store(thread_token(), std::memory_order_relaxed);
  try {
    if (!e) return settle_snapshot(c);
    if (*e != 0 && *e > c.snapshot_epoch().load(std::memory_order_relaxed)) settle_snapshot(c, *e);
    return *e;
  } catch (...) {
    release_exclusive(c);
    throw;
  }
}

// Settles the running snapshot (epoch e) for c, whose lock the calling
// thread holds, marking c held meanwhile.
inline void take_exclusive_settled(const ab_adt& c, uint64_t e) {
  c.holder().store(thread_token(), std::memory_order_relaxed);
  try {
    settle_snapshot(c, e);
  } catch (...) {
    c.holder().store(0, std::memory_order_relaxed);
    throw;
  }
  c.holder().store(0, std::memory_order_relaxed);
}

// An exclusive hold over several operations. epoch() is the snapshot
// epoch it saw (0: none), which is the snapshot its changes are not part
// of. REQUIRES the calling thread not to hold c yet.
class exclusive_hold {
 public:
  explicit exclusive_hold(const ab_adt& c) : c_(c), epoch_(take_exclusive(c)) {}
  // With the snapshot epoch read once for several holds (a batch).
  exclusive_hold(const ab_adt& c, uint64_t e) : c_(c), epoch_(take_exclusive(c, &e)) {}
  ~exclusive_hold() { release_exclusive(c_); }
  exclusive_hold(const exclusive_hold&) = delete;
  exclusive_hold& operator=(const exclusive_hold&) = delete;
  uint64_t epoch() const noexcept { return epoch_; }

 private:
  const ab_adt& c_;
  uint64_t epoch_;
};

// The lock of a read operation: shared, unless the calling thread holds
// the container.
class read_lock {
 public:
  explicit read_lock(const ab_adt& c) noexcept
      : l_(c.held_here() ? nullptr : &c.lock()), token_(l_ ? l_->lock_read() : 0) {}
  ~read_lock() {
    if (l_) l_->unlock_read(token_);
  }
  read_lock(const read_lock&) = delete;
  read_lock& operator=(const read_lock&) = delete;

 private:
  rw_lock* l_;
  uint32_t token_;
};

// The lock of a changing operation: exclusive (settling the running
// snapshot first), unless the calling thread holds the container, in which
// case the hold has settled it. It marks the container held only while it
// hands it to a snapshot (whose copy reads it through operations).
class write_lock {
 public:
  explicit write_lock(const ab_adt& c) : c_(c.held_here() ? nullptr : &c) {
    if (!c_) return;
    c.lock().lock();
    const uint64_t e = running_snapshot.load(std::memory_order_acquire);
    if (e != 0 && e > c.snapshot_epoch().load(std::memory_order_relaxed)) [[unlikely]] {
      try {
        take_exclusive_settled(c, e);
      } catch (...) {
        c.lock().unlock();
        throw;
      }
    }
  }
  ~write_lock() {
    if (c_) c_->lock().unlock();
  }
  write_lock(const write_lock&) = delete;
  write_lock& operator=(const write_lock&) = delete;

 private:
  const ab_adt* c_;
};

}  // namespace nosql_db
