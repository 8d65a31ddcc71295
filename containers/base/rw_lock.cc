// The waiting side of rw_lock (spin a little, then sleep on the lock word)
// and its table of biased readers.
//
// On Linux the sleep is a private futex on the word itself. (std::atomic
// wait/notify would do the same, but its shared waiter table is a global
// object that would join the library's exported symbols.)
#include "containers/base/rw_lock.h"

#include <sched.h>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#endif

namespace nosql_db {
namespace {

#if defined(__linux__)
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "the futex is the atomic's own word");

// Sleeps while *word == expected (a wake or a change ends it; so may a
// signal, which the caller's loop absorbs).
void wait_on(std::atomic<uint32_t>& word, uint32_t expected) noexcept {
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}
void wake_all(std::atomic<uint32_t>& word) noexcept {
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}
#else
void wait_on(std::atomic<uint32_t>& word, uint32_t expected) noexcept { word.wait(expected, std::memory_order_relaxed); }
void wake_all(std::atomic<uint32_t>& word) noexcept { word.notify_all(); }
#endif

// Short critical sections usually end within a few hundred cycles, which is
// far less than a sleep and a wake cost.
constexpr int spin_limit = 100;

// The biased readers: slot i names the lock that a reader holds through it,
// or is null. A reader picks its slot from the lock's address and its own
// stack's, so threads mostly write slots (and cache lines) of their own.
// 1024 slots keep a writer's scan to 128 cache lines.
constexpr uint32_t table_slots = 1024;
std::atomic<const rw_lock*> table[table_slots];

uint32_t slot_for(const rw_lock* l) noexcept {
  const auto a = reinterpret_cast<uintptr_t>(l);
  const auto t = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) >> 16;  // this thread's stack
  uint64_t h = (a >> 3) * 0x9E3779B97F4A7C15u ^ t * 0xC2B2AE3D27D4EB4Fu;
  h ^= h >> 29;
  return static_cast<uint32_t>(h & (table_slots - 1));
}

inline void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

void rw_lock::sleep(uint32_t s) noexcept {
  if (!(s & sleepers)) {
    if (!state_.compare_exchange_strong(s, s | sleepers, std::memory_order_relaxed)) return;
    s |= sleepers;
  }
  wait_on(state_, s);
}

void rw_lock::back_off(int* spins, uint32_t s) noexcept {
  if (*spins < spin_limit) {
    ++*spins;
    cpu_relax();
  } else {
    sleep(s);
  }
}

void rw_lock::lock_slow() noexcept {
  int spins = 0;
  for (;;) {
    uint32_t s = state_.load(std::memory_order_relaxed);
    if ((s & (readers | writer)) == 0) {
      // Sequentially consistent: either a biased reader's check of the word
      // sees this writer, or drain_table sees that reader's slot.
      if (state_.compare_exchange_weak(s, (s | writer) & ~(writer_waiting | biased | streak),
                                       std::memory_order_seq_cst, std::memory_order_relaxed)) {
        if (s & biased) drain_table();
        return;
      }
      continue;
    }
    if (!(s & writer_waiting)) {
      // From now on new readers queue behind this writer.
      state_.compare_exchange_weak(s, s | writer_waiting, std::memory_order_relaxed);
      continue;
    }
    back_off(&spins, s);
  }
}

void rw_lock::lock_shared_slow() noexcept {
  int spins = 0;
  for (;;) {
    uint32_t s = state_.load(std::memory_order_relaxed);
    if ((s & (writer | writer_waiting)) == 0) {
      if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed)) return;
      continue;
    }
    back_off(&spins, s);
  }
}

bool rw_lock::try_lock() noexcept {
  uint32_t s = state_.load(std::memory_order_relaxed);
  if ((s & (readers | writer)) != 0 ||
      !state_.compare_exchange_strong(s, (s | writer) & ~(writer_waiting | biased | streak),
                                      std::memory_order_seq_cst, std::memory_order_relaxed))
    return false;
  if ((s & biased) && table_names_me()) {
    unlock();  // a biased reader is in: give the word back (the bias stays off)
    return false;
  }
  return true;
}

uint32_t rw_lock::lock_read_biased() noexcept {
  const uint32_t i = slot_for(this);
  std::atomic<const rw_lock*>& slot = table[i];
  const rw_lock* none = nullptr;
  if (slot.load(std::memory_order_relaxed) != nullptr ||
      !slot.compare_exchange_strong(none, this, std::memory_order_seq_cst, std::memory_order_relaxed))
    return 0;  // taken by another reader: count in the word instead
  // Announced first, checked second (see lock_slow).
  if ((state_.load(std::memory_order_seq_cst) & (biased | writer | writer_waiting)) == biased) return i + 1;
  slot.store(nullptr, std::memory_order_release);
  return 0;
}

void rw_lock::release_slot(uint32_t token) noexcept { table[token - 1].store(nullptr, std::memory_order_release); }

bool rw_lock::table_names_me() const noexcept {
  for (const auto& slot : table)
    if (slot.load(std::memory_order_seq_cst) == this) return true;
  return false;
}

void rw_lock::drain_table() noexcept {
  for (const auto& slot : table) {
    for (int spins = 0; slot.load(std::memory_order_seq_cst) == this; ++spins) {
      if (spins < spin_limit) cpu_relax();
      else ::sched_yield();
    }
  }
}

void rw_lock::wake() noexcept { wake_all(state_); }

void rw_lock::wake_if_sleepers() noexcept {
  if (state_.fetch_and(~sleepers, std::memory_order_relaxed) & sleepers) wake();
}

}  // namespace nosql_db
