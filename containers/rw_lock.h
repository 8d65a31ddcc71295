// A small reader/writer lock for the store and for every container.
//
// Every command takes two of these (the store's, shared, and its
// container's), so the uncontended paths are one atomic instruction each:
// a compare-exchange to take the lock, a fetch-and-subtract or fetch-and-and
// to release it. Threads that must wait spin briefly and then sleep on the
// lock word (a futex on Linux); only a release that sees a sleeper wakes
// anyone.
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
    uint32_t s = 0;
    if (!state_.compare_exchange_strong(s, writer, std::memory_order_acquire, std::memory_order_relaxed))
      lock_slow();
  }
  bool try_lock() noexcept {
    uint32_t s = state_.load(std::memory_order_relaxed);
    return (s & (readers | writer)) == 0 &&
           state_.compare_exchange_strong(s, (s | writer) & ~writer_waiting, std::memory_order_acquire,
                                          std::memory_order_relaxed);
  }
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

 private:
  static constexpr uint32_t readers = (uint32_t{1} << 29) - 1;  // reader count
  static constexpr uint32_t writer = uint32_t{1} << 29;          // held exclusively
  static constexpr uint32_t writer_waiting = uint32_t{1} << 30;  // keeps new readers out
  static constexpr uint32_t sleepers = uint32_t{1} << 31;        // someone sleeps on state_

  void lock_slow() noexcept;
  void lock_shared_slow() noexcept;
  void wake() noexcept;
  void wake_if_sleepers() noexcept;
  // Marks the word as slept on and sleeps while it still reads s | sleepers.
  void sleep(uint32_t s) noexcept;
  // One wait of a slow path that last read s: a pause while *spins is
  // below the limit (counting it), a sleep after that.
  void back_off(int* spins, uint32_t s) noexcept;

  std::atomic<uint32_t> state_{0};
};

}  // namespace nosql_db
