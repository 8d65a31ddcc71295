// A small reader/writer lock for the store and for every container.
//
// Every command takes two of these (the store's, shared, and its
// container's), so the uncontended paths are one atomic instruction each:
// a compare-exchange to take the lock, a fetch-and-subtract or fetch-and-and
// to release it. Threads that must wait spin briefly and then sleep on the
// lock word (a futex on Linux); only a release that sees a sleeper wakes
// anyone.
//
// Readers on several cores would still pass the lock word back and forth
// between them. So once a lock has been read many times with no writer
// between, it turns "biased": a reader then announces itself in a slot of
// a global table (a slot that its own thread mostly uses) instead of
// counting itself in the word, and only reads the word, which the cores
// can share. A writer takes the word as before, turns the bias off and
// waits for the table to hold no reader of this lock; the reads that follow
// count in the word again until the next run of reads. read_guard takes
// the lock this way; lock_shared / unlock_shared always count in the word.
//
// Writers are preferred: once a writer waits, new readers wait too, so a
// stream of readers cannot starve a create or an erase. The lock is not
// recursive, so a thread holding it shared must not take it again.
//
// It meets the Lockable and SharedLockable requirements, so std::unique_lock
// and std::shared_lock work with it.
#pragma once

#include <atomic>
#include <cstdint>

namespace nosql_db {

class rw_lock {
 public:
  rw_lock() noexcept = default;
  rw_lock(const rw_lock&) = delete;
  rw_lock& operator=(const rw_lock&) = delete;

  void lock() noexcept {
    uint32_t s = state_.load(std::memory_order_relaxed);
    if ((s & (readers | writer | biased)) != 0 ||
        !state_.compare_exchange_strong(s, (s | writer) & ~(writer_waiting | streak), std::memory_order_acquire,
                                        std::memory_order_relaxed))
      lock_slow();
  }
  bool try_lock() noexcept;
  void unlock() noexcept {
    const uint32_t s = state_.fetch_and(~(writer | sleepers), std::memory_order_release);
    if (s & sleepers) wake();
  }

  void lock_shared() noexcept {
    uint32_t s = state_.load(std::memory_order_relaxed);
    if ((s & (writer | writer_waiting)) != 0 ||
        !state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed))
      lock_shared_slow();
  }
  bool try_lock_shared() noexcept {
    uint32_t s = state_.load(std::memory_order_relaxed);
    while ((s & (writer | writer_waiting)) == 0) {
      if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed))
        return true;
    }
    return false;
  }
  void unlock_shared() noexcept {
    const uint32_t s = state_.fetch_sub(1, std::memory_order_release);
    // The last reader out wakes a waiting writer (and the readers queued
    // behind it, which go back to sleep until the writer is done).
    if ((s & readers) == 1 && (s & sleepers)) wake_if_sleepers();
  }

  // Shared, through the reader table when the lock is biased. Returns the
  // token that unlock_read needs.
  uint32_t lock_read() noexcept {
    uint32_t s = state_.load(std::memory_order_relaxed);
    if (s & biased) {
      if (const uint32_t token = lock_read_biased()) return token;
      s = state_.load(std::memory_order_relaxed);
    }
    // Counted in the word; a long enough run of such reads turns the bias on.
    const uint32_t next = (s & streak) >= bias_after_streak ? ((s + 1) & ~streak) | biased : s + 1 + streak_unit;
    if ((s & (writer | writer_waiting)) != 0 ||
        !state_.compare_exchange_weak(s, next, std::memory_order_acquire, std::memory_order_relaxed))
      lock_shared_slow();
    return 0;
  }
  void unlock_read(uint32_t token) noexcept {
    if (token) release_slot(token);
    else unlock_shared();
  }

 private:
  static constexpr uint32_t readers = (uint32_t{1} << 16) - 1;  // reader count
  static constexpr uint32_t streak_unit = uint32_t{1} << 16;      // counted reads since a writer
  static constexpr uint32_t streak = uint32_t{0xFF} << 16;
  static constexpr uint32_t bias_after_streak = uint32_t{127} << 16;
  static constexpr uint32_t biased = uint32_t{1} << 24;          // readers use the table
  static constexpr uint32_t writer = uint32_t{1} << 29;          // held exclusively
  static constexpr uint32_t writer_waiting = uint32_t{1} << 30;  // keeps new readers out
  static constexpr uint32_t sleepers = uint32_t{1} << 31;        // someone sleeps on state_

  void lock_slow() noexcept;
  void lock_shared_slow() noexcept;
  uint32_t lock_read_biased() noexcept;
  static void release_slot(uint32_t token) noexcept;
  // Turns the bias off for a writer that now holds the word: waits until no
  // table slot names this lock.
  void drain_table() noexcept;
  bool table_names_me() const noexcept;
  void wake() noexcept;
  void wake_if_sleepers() noexcept;
  // Marks the word as slept on and sleeps while it still reads s | sleepers.
  void sleep(uint32_t s) noexcept;
  // One wait of a slow path that last read s: a pause while *spins is
  // below the limit (counting it), a sleep after that.
  void back_off(int* spins, uint32_t s) noexcept;

  std::atomic<uint32_t> state_{0};
};

// A shared hold of an rw_lock for the length of a scope, taken with
// lock_read.
class read_guard {
 public:
  explicit read_guard(rw_lock& l) noexcept : l_(l), token_(l.lock_read()) {}
  ~read_guard() { l_.unlock_read(token_); }
  read_guard(const read_guard&) = delete;
  read_guard& operator=(const read_guard&) = delete;

 private:
  rw_lock& l_;
  uint32_t token_;
};

}  // namespace nosql_db
