// Taking changes back on the ordered kinds, on trees several levels deep
// with keys and values that live on the heap: splits, merges and borrows
// on every level are recorded and taken back, bulk deletions and moves of
// long equal runs among them. A rollback must give the dump bytes back and
// a tree whose every invariant holds; an end_undo the same container as
// the same changes made with nothing recorded (AddressSanitizer watches
// what the records keep and free).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "containers/hold.h"
#include "containers/ordered/map.h"
#include "containers/ordered/set.h"
#include "containers/undo_cases.h"

namespace nosql_db {
namespace {

using namespace testing_util;

// Zero-padded: the keys sort as their numbers do.
std::string long_key(std::mt19937& r, int n) {
  return "\"a key long enough to live on the heap " + std::to_string(10000 + r() % n) + "\"";
}

std::string string_set_change(std::mt19937& r) {
  const std::string k = long_key(r, 4000), j = long_key(r, 4000), n = num(r, 400);
  return pick(r, {"i 0 " + k, "i 0 " + k, "d 0 equal " + k, "d 0 lege " + k + " " + j, "d 0 min_n " + n,
                  "d 0 max_n " + n, "s 0 equal " + k + " " + j, "s 0 min " + k, "s 0 max " + k,
                  r() % 40 == 0 ? "d 0 all" : "d 0 gt " + k});
}
std::string run_change(std::mt19937& r) {  // long runs of equal keys
  const std::string k = num(r, 12), j = num(r, 12), n = num(r, 500);
  return pick(r, {"i 0 " + k, "i 0 " + k, "i 0 " + k, "d 0 equal " + k, "d 0 min_n " + n, "s 0 equal " + k + " " + j,
                  "s 0 max_n " + n + " " + j, "s 0 ge " + k + " " + j, "d 0 ltgt " + k + " " + j});
}
std::string string_map_change(std::mt19937& r) {
  const std::string k = long_key(r, 4000), j = long_key(r, 4000), v = text(r);
  return pick(r, {"i 0 " + k + " " + v, "i 0 " + k + " " + v, "d 0 equal " + k, "d 0 min", "d 0 max",
                  "s 0 value " + k + " " + v, "s 0 equal " + k + " " + j, "s 0 min " + k, "s 0 max " + k,
                  r() % 40 == 0 ? "d 0 all" : "i 0 " + j + " " + v});
}

struct deep_case {
  kind_case k;
  std::string (*grow)(std::mt19937&);  // an insertion
  bool (*verify)(const ab_adt&);
};
template <class T>
bool verify_as(const ab_adt& c) {
  return dynamic_cast<const T&>(c).verify();
}
std::string key_in(std::mt19937& r) { return "i 0 " + long_key(r, 4000); }
std::string entry_in(std::mt19937& r) { return "i 0 " + long_key(r, 4000) + " " + text(r); }
std::string run_in(std::mt19937& r) { return "i 0 " + num(r, 12); }
const deep_case deep_cases[] = {
    {{"set_of_strings", "c set string", string_set_change}, key_in, verify_as<set_adt<xstring>>},
    {{"multiset_runs", "c multiset i16", run_change}, run_in, verify_as<multiset_adt<int16_t>>},
    {{"map_of_strings", "c map string string", string_map_change}, entry_in, verify_as<map_adt<xstring, xstring>>},
    {{"multimap_of_strings", "c multimap string string", string_map_change}, entry_in,
     verify_as<multimap_adt<xstring, xstring>>},
};

void PrintTo(const deep_case& c, std::ostream* os) { *os << c.k.name; }

class DeepUndo : public testing::TestWithParam<deep_case> {};

TEST_P(DeepUndo, RollbackRestoresAndEndUndoKeeps) {
  const deep_case& dc = GetParam();
  std::mt19937 r(7);
  test_store t, plain;  // plain: the kept changes made with nothing recorded
  ASSERT_TRUE(t.ok(dc.k.create));
  ASSERT_TRUE(plain.ok(dc.k.create));
  ab_adt& c = *t.s.at(0);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    while (c.size() < 2500) {  // two inner levels at least
      const std::string line = dc.grow(r);
      t.run(line);
      plain.run(line);
    }
    const bool keep = round % 3 == 0;
    exclusive_hold h(c);
    const std::string before = image(c);
    c.begin_undo();
    for (int i = 1 + static_cast<int>(r() % 40); i > 0; --i) {
      const std::string line = dc.k.change(r);
      t.run(line);
      if (keep) plain.run(line);
    }
    if (keep) {
      c.end_undo();
      ASSERT_EQ(image(c), image(*plain.s.at(0)));
    } else {
      c.rollback();
      ASSERT_EQ(image(c), before);
    }
    ASSERT_TRUE(dc.verify(c));
  }
}

INSTANTIATE_TEST_SUITE_P(Ordered, DeepUndo, testing::ValuesIn(deep_cases),
                         [](const testing::TestParamInfo<deep_case>& i) { return std::string(i.param.k.name); });

}  // namespace
}  // namespace nosql_db
