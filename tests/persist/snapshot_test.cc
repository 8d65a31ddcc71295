// Dumps of one instant: a dump taken while other threads change the store
// holds every container as it stood when the dump began.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "test_util.h"

namespace nosql_db {
namespace {

using testing_util::temp_dir;
using testing_util::test_store;

// Two counters in two containers, with a large container written between
// them: a mover sets A, then B, to 1, 2, 3, ...; a dump that wrote each
// container when it reached it would catch B ahead of A. Another mover
// moves an item between two sets, inserting it in the target before
// deleting it from the source: at no instant is it in neither.
TEST(Threads, DumpsShowOneInstantWhileMoversRun) {
  temp_dir dir;
  test_store t;
  for (const char* line : {"c vector u64 a", "i 0 last 0", "c vector u64 filler", "c vector u64 b", "i 2 last 0",
                           "c set i32 from", "c set i32 to", "i 3 7"})
    ASSERT_TRUE(t.ok(line)) << line;
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(t.ok("i 1 last " + std::to_string(i)));
  std::atomic<bool> stop{false};
  std::thread counters([&] {
    for (uint64_t k = 1; !stop; ++k) {
      if (!t.ok("s 0 first " + std::to_string(k)) || !t.ok("s 2 first " + std::to_string(k))) std::abort();
    }
  });
  std::thread mover([&] {
    for (int k = 0; !stop; ++k) {
      const int from = 3 + k % 2, to = 4 - k % 2;
      if (!t.ok("i " + std::to_string(to) + " 7") || !t.ok("d " + std::to_string(from) + " equal 7")) std::abort();
    }
  });
  int ahead = 0, nowhere = 0;
  for (int i = 0; i < 200; ++i) {
    const std::string path = dir.file("d" + std::to_string(i));
    ASSERT_TRUE(t.ok("b " + path));
    test_store back;
    ASSERT_TRUE(back.ok("r " + path));
    const uint64_t a = std::stoull(back.col("g 0 first")[0]), b = std::stoull(back.col("g 2 first")[0]);
    if (b > a || a > b + 1) ++ahead;
    if (back.col("g 3 count")[0] == "0" && back.col("g 4 count")[0] == "0") ++nowhere;
    EXPECT_EQ(back.col("g 1 count")[0], "20000");
    std::remove(path.c_str());
  }
  stop = true;
  counters.join();
  mover.join();
  EXPECT_EQ(ahead, 0);
  EXPECT_EQ(nowhere, 0);
}

}  // namespace
}  // namespace nosql_db
