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

using namespace std::chrono_literals;

// Every third step a thread writes; otherwise it reads, half the threads
// counted in the lock word and half through the table once the bias is on.
TEST(ThreadsRwLock, WritersExcludeEveryoneReadersShareWriterNotStarved) {
  rw_lock l;
  int64_t guarded = 0;  // written only under the exclusive lock
  std::atomic<int> writers{0}, readers{0};
  std::atomic<bool> broken{false};
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; ++t) {
    ts.emplace_back([&, t] {
      for (int i = 0; i < 18000; ++i) {
        if ((i + t) % 3 == 0) {
          std::unique_lock w(l);
          broken = broken || writers.fetch_add(1) != 0 || readers.load() != 0;
          ++guarded;
          writers.fetch_sub(1);
          continue;
        }
        std::shared_lock counted(l, std::defer_lock);
        std::optional<read_guard> biased;
        if (t % 2) counted.lock();
        else biased.emplace(l);
        readers.fetch_add(1);
        volatile int64_t seen = guarded;  // a race here is what TSan would flag
        (void)seen;
        broken = broken || writers.load() != 0;
        readers.fetch_sub(1);
      }
    });
  }
  for (auto& t : ts) t.join();
  EXPECT_FALSE(broken);
  EXPECT_EQ(guarded, 4 * 18000 / 3);

  // Two readers whose holds overlap keep the lock busy unless new readers
  // wait for a writer that is queued.
  std::atomic<bool> stop{false}, written{false};
  ts.clear();
  for (int t = 0; t < 2; ++t)
    ts.emplace_back([&] {
      while (!stop) {
        std::shared_lock r(l);
        std::this_thread::sleep_for(200us);
      }
    });
  std::this_thread::sleep_for(5ms);
  std::thread writer([&] {
    std::unique_lock w(l);
    written = true;
  });
  for (int ms = 0; !written && ms < 20000; ++ms) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(written);
  stop = true;
  writer.join();
  for (auto& t : ts) t.join();
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
  // Each row: readers holding, whether a writer holds, then whether
  // try_lock and try_lock_shared get in.
  const struct { int readers; bool writer, excl, shared; } rows[] = {
      {0, false, true, true}, {1, false, false, true}, {2, false, false, true}, {0, true, false, false}};
  for (const auto& r : rows) {
    for (int i = 0; i < r.readers; ++i) l.lock_shared();
    if (r.writer) l.lock();
    EXPECT_EQ(std::unique_lock(l, std::try_to_lock).owns_lock(), r.excl) << r.readers << r.writer;
    EXPECT_EQ(std::shared_lock(l, std::try_to_lock).owns_lock(), r.shared) << r.readers << r.writer;
    if (r.writer) l.unlock();
    for (int i = 0; i < r.readers; ++i) l.unlock_shared();
  }
}

}  // namespace
}  // namespace nosql_db
