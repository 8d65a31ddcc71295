// The reader/writer lock under contention: exclusion, sharing, and that a
// writer gets in while readers keep arriving. The names start with
// "Threads" so the ThreadSanitizer run picks them up.
#include "containers/base/rw_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <thread>
#include <vector>

namespace nosql_db {
namespace {

TEST(ThreadsRwLock, WritersExcludeEveryoneReadersShare) {
  rw_lock l;
  int64_t guarded = 0;  // written only under the exclusive lock
  std::atomic<int> inside_writers{0}, inside_readers{0}, max_readers{0};
  std::atomic<bool> broken{false};
  constexpr int per_thread = 20000;
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; ++t) {
    ts.emplace_back([&, t] {
      for (int i = 0; i < per_thread; ++i) {
        if ((i + t) % 3 == 0) {
          std::unique_lock w(l);
          if (inside_writers.fetch_add(1) != 0 || inside_readers.load() != 0) broken = true;
          ++guarded;
          inside_writers.fetch_sub(1);
        } else {
          // Half the readers count in the lock word, half go through the
          // table once the run of reads has turned the bias on.
          std::shared_lock counted(l, std::defer_lock);
          std::optional<read_guard> biased;
          if (t % 2) counted.lock();
          else biased.emplace(l);
          const int n = inside_readers.fetch_add(1) + 1;
          int m = max_readers.load();
          while (n > m && !max_readers.compare_exchange_weak(m, n)) {
          }
          if (inside_writers.load() != 0) broken = true;
          volatile int64_t seen = guarded;  // a race here is what TSan would flag
          (void)seen;
          inside_readers.fetch_sub(1);
        }
      }
    });
  }
  for (auto& t : ts) t.join();
  EXPECT_FALSE(broken);
  int64_t writes = 0;
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < per_thread; ++i) writes += (i + t) % 3 == 0;
  EXPECT_EQ(guarded, writes);
}

TEST(ThreadsRwLock, WriterIsNotStarvedByOverlappingReaders) {
  rw_lock l;
  std::atomic<bool> stop{false}, written{false};
  // Two readers whose holds overlap, so the lock is never free of readers
  // unless new ones wait for the writer.
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        std::shared_lock r(l);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::thread writer([&] {
    std::unique_lock w(l);
    written = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!written && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const bool got_in = written;
  stop = true;
  writer.join();
  for (auto& t : readers) t.join();
  EXPECT_TRUE(got_in);
}

TEST(ThreadsRwLock, TryLocksRespectHolders) {
  rw_lock l;
  {
    // A long run of reads turns the bias on; a reader in the table still
    // keeps try_lock out, and the writer that gets in turns it off.
    for (int i = 0; i < 300; ++i) read_guard r(l);
    read_guard r(l);
    EXPECT_FALSE(l.try_lock());
  }
  ASSERT_TRUE(l.try_lock());
  l.unlock();
  l.lock_shared();
  EXPECT_TRUE(l.try_lock_shared());
  EXPECT_FALSE(l.try_lock());
  l.unlock_shared();
  l.unlock_shared();
  ASSERT_TRUE(l.try_lock());
  EXPECT_FALSE(l.try_lock_shared());
  EXPECT_FALSE(l.try_lock());
  l.unlock();
  EXPECT_TRUE(l.try_lock_shared());
  l.unlock_shared();
}

}  // namespace
}  // namespace nosql_db
