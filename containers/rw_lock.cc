// The waiting side of rw_lock: spin a little, then sleep on the lock word.
#include "containers/rw_lock.h"

namespace nosql_db {
namespace {

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
  state_.wait(s, std::memory_order_relaxed);
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
    if (spins < spin_limit) {
      ++spins;
      cpu_relax();
      continue;
    }
    sleep(s);
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
    if (spins < spin_limit) {
      ++spins;
      cpu_relax();
      continue;
    }
    sleep(s);
  }
}

void rw_lock::wake() noexcept { state_.notify_all(); }

void rw_lock::wake_if_sleepers() noexcept {
  if (state_.fetch_and(~sleepers, std::memory_order_relaxed) & sleepers) wake();
}

}  // namespace nosql_db
