// Several threads mix command lines and prepared statements of their own on
// containers they share and on one each, while they also create and erase
// containers; the final counts must add up.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "api/vox_nosql.hpp"

namespace {

TEST(Threads, CommandsAndStatementsOnOwnAndSharedContainers) {
  constexpr int threads = 4, rounds = 2000;
  for (const char* line : {"c set i64 th_shared", "c map i64 string th_names", "c vector i64 th_log"})
    ASSERT_TRUE(vox::run(line)) << line;
  const size_t containers = vox::run("k").rows();
  std::atomic<int> failures{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    const std::string own = "th_own" + std::to_string(t);
    ASSERT_TRUE(vox::runf("c vector i64 {}", own));
    pool.emplace_back([t, own, &failures] {
      vox::statement ins("i \"th_shared\" ?"), put("i \"th_names\" ? ?"), find("g \"th_shared\" equal ?");
      vox::statement push(vox::command("i {} last ?", own).value()), count("g \"th_shared\" count");
      for (int i = 0; i < rounds; ++i) {
        const int64_t k = int64_t{t} * rounds + i;
        bool ok = ins.bind(k) && ins.run() && put.bind(k, "n" + std::to_string(k)) && put.run() && find.bind(k) &&
                  find.run().rows() == 1 && push.bind(k) && push.run() &&
                  count.run().at(0, 0).get<uint64_t>() >= static_cast<uint64_t>(i + 1);
        ok = ok && vox::runf("i {} last {}", "th_log", k) && vox::runf("s {} first 1", own);
        if (i % 3 == 1) ok = ok && vox::runf("d {} last", own);
        if (i % 100 == 0) {
          // Catalog changes interleave with the element commands.
          const vox::result made = vox::run("c vector i32");
          ok = ok && made && vox::runf("e {}", made.at(0, 0).get<uint64_t>().value_or(0)) && vox::run("k");
        }
        if (!ok) ++failures;
      }
    });
  }
  for (std::thread& t : pool) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(vox::run("g \"th_shared\" count").at(0, 0).get<int>(), threads * rounds);
  EXPECT_EQ(vox::run("g \"th_log\" count").at(0, 0).get<int>(), threads * rounds);
  EXPECT_EQ(vox::run("g \"th_names\" value 4321").at(0, 0).get<std::string>(), "n4321");
  for (int t = 0; t < threads; ++t)
    EXPECT_EQ(vox::runf("g {} count", "th_own" + std::to_string(t)).at(0, 0).get<int>(), rounds - (rounds + 1) / 3);
  EXPECT_EQ(vox::run("k").rows(), containers + threads);
}

}  // namespace
