// The waiting side of rw_lock: spin a little, then sleep on the lock word.
//
// On Linux the sleep is a private futex on the word itself. (std::atomic
// wait/notify would do the same, but its shared waiter table is a global
// object that would join the library's exported symbols.)
#include "containers/rw_lock.h"

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
      if (state_.compare_exchange_weak(s, (s | writer) & ~writer_waiting, std::memory_order_acquire,
                                       std::memory_order_relaxed))
        return;
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

void rw_lock::wake() noexcept { wake_all(state_); }

void rw_lock::wake_if_sleepers() noexcept {
  if (state_.fetch_and(~sleepers, std::memory_order_relaxed) & sleepers) wake();
}

}  // namespace nosql_db
