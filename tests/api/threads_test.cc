// Several threads issue mixed commands on containers of their own and on one
// shared container; the final counts must add up.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

namespace nosql_db {
namespace {

using strings = std::vector<std::string>;
using testing_util::test_store;

TEST(Threads, MixedCommandsOnOwnAndSharedContainers) {
  test_store t;
  ASSERT_TRUE(t.ok("c vector i64 shared"));
  constexpr int threads = 4;
  constexpr int rounds = 2000;
  std::atomic<int> failures{0};
  std::vector<std::thread> pool;
  for (int id = 0; id < threads; ++id) {
    pool.emplace_back([&, id] {
      const std::string own = "\"own" + std::to_string(id) + "\"";
      if (!t.ok("c vector i64 " + own)) ++failures;
      for (int i = 0; i < rounds; ++i) {
        const std::string v = std::to_string(i);
        if (!t.ok("i " + own + " last " + v)) ++failures;
        if (!t.ok("i \"shared\" last " + v)) ++failures;
        if (i % 3 == 1 && !t.ok("d " + own + " last")) ++failures;
        if (!t.ok("g \"shared\" count")) ++failures;
        if (!t.ok("s " + own + " first 1")) ++failures;
        if (i % 100 == 0) {
          // Catalog changes interleave with the element commands.
          if (!t.ok("c vector i32")) ++failures;
          if (!t.ok("k")) ++failures;
        }
      }
    });
  }
  for (auto& th : pool) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(t.col("g \"shared\" count"), strings{std::to_string(threads * rounds)});
  const int removed = (rounds + 1) / 3;
  for (int id = 0; id < threads; ++id) {
    EXPECT_EQ(t.col("g \"own" + std::to_string(id) + "\" count"), strings{std::to_string(rounds - removed)});
  }
  EXPECT_EQ(t.s.container_count(), 1u + threads + threads * (rounds / 100));
}

}  // namespace
}  // namespace nosql_db
