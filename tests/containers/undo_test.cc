// Taking changes back: random changes through the command language, under
// begin_undo, then rollback: the container's dump bytes and handle table
// must be what they were; or end_undo: the changes stay.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "containers/hold.h"
#include "containers/undo_cases.h"

namespace nosql_db {
namespace {

using namespace testing_util;

class Undo : public testing::TestWithParam<kind_case> {};

TEST_P(Undo, RollbackLeavesTheContainerAsItWas) {
  const kind_case& k = GetParam();
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 r(seed);
    test_store t;
    ASSERT_TRUE(t.ok(k.create));
    std::vector<std::string> handles;
    run_changes(t, r, k, 60, handles);
    for (int round = 0; round < 60; ++round) {
      const ab_adt& c = *t.s.at(0);
      std::string before;
      const uint32_t state = r();
      {
        exclusive_hold h(c);
        before = image(c);
        const_cast<ab_adt&>(c).begin_undo();
      }
      // The changes, made as a batch makes them: with the hold taken.
      std::mt19937 changes(state);
      {
        exclusive_hold h(c);
        run_changes(t, changes, k, 1 + static_cast<int>(state % 25), handles);
        if (state % 4 == 0) {
          const_cast<ab_adt&>(c).end_undo();  // kept: no longer what it was (mostly)
          continue;
        }
        const_cast<ab_adt&>(c).rollback();
        ASSERT_EQ(image(c), before) << "round " << round;
      }
      // After a rollback the handles from before still work.
      run_changes(t, r, k, 3, handles);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Undo, testing::ValuesIn(undo_kinds),
                         [](const testing::TestParamInfo<kind_case>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace nosql_db
