// Taking changes back where the command-driven tests do not reach: a deque
// of thousands of elements whose end removals release blocks (rollback
// must find them again), and heaps of floats with NaN (a push then swaps
// above a level where it did not) and of long strings.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "containers/sequence/deque.h"
#include "containers/sequence/heap.h"
#include "containers/hold.h"
#include "containers/undo_cases.h"

namespace nosql_db {
namespace {

using testing_util::image;

struct array_case {
  const char* name;
  std::function<std::unique_ptr<ab_adt>()> make;
  std::function<void(ab_adt&, std::mt19937&)> change;
  // What must come back beyond the dump: the deque's bookkeeping and blocks.
  std::function<std::string(const ab_adt&)> shape = [](const ab_adt&) { return std::string(); };
};

void deque_change(ab_adt& c, std::mt19937& r) {
  auto& d = static_cast<deque_adt<int64_t>&>(c);
  const int64_t v = r();
  const uint64_t n = d.size();
  switch (r() % 8) {
    case 0: for (uint64_t k = r() % 1500; k > 0; --k) d.ins_last(v); break;
    case 1: for (uint64_t k = r() % 1500; k > 0; --k) d.ins_first(v); break;
    case 2: d.del_first_n(r() % 2500); break;
    case 3: d.del_last_n(r() % 2500); break;
    case 4: d.ins_nth(r() % (n + 1), v); break;
    case 5: d.set_range(1 + r() % (n + 1), r() % (n + 2), v); break;
    case 6: r() % 2 ? d.del_first() : d.del_last(); break;
    default: r() % 10 == 0 ? d.del_all() : d.ins_last(v); break;
  }
}

std::string deque_shape(const ab_adt& c) {
  const auto& d = static_cast<const deque_adt<int64_t>&>(c);
  const auto l = d.inspect();
  std::string blocks;
  for (uint64_t e = 0; e < l.table_length; ++e) blocks += d.has_block(e) ? '1' : '0';
  blocks.erase(blocks.find_last_not_of('0') + 1);  // a table grown since holds no more blocks
  return std::to_string(l.front_count) + " " + std::to_string(l.back_count) + " " + std::to_string(l.origin) + " " + blocks;
}

template <class K>
void heap_change(ab_adt& c, std::mt19937& r, K x) {
  static const uint8_t no_value = 0;
  auto& h = static_cast<heap_adt<K>&>(c);
  switch (r() % 4) {
    case 0: h.del_min(); break;
    case 1: h.set_min(x); break;
    default: h.ins_key(x, value_ref{scalar::u08, &no_value}); break;
  }
}

const array_case cases[] = {
    {"deque_blocks", [] { return std::make_unique<deque_adt<int64_t>>(); }, deque_change, deque_shape},
    {"heap_float_nan", [] { return std::make_unique<heap_adt<float>>(); },
     [](ab_adt& c, std::mt19937& r) { heap_change<float>(c, r, r() % 6 == 0 ? NAN : static_cast<float>(r() % 50)); }},
    {"heap_long_strings", [] { return std::make_unique<heap_adt<xstring>>(); },
     [](ab_adt& c, std::mt19937& r) {
       heap_change(c, r, xstring("a text too long for a string's own bytes " + std::to_string(r() % 50)));
     }},
};

void PrintTo(const array_case& k, std::ostream* os) { *os << k.name; }

class UndoArrays : public testing::TestWithParam<array_case> {};

TEST_P(UndoArrays, RollbackRestoresStorageAndBlocks) {
  const array_case& k = GetParam();
  std::mt19937 r(5);
  const std::unique_ptr<ab_adt> c = k.make();
  exclusive_hold h(*c);
  for (int i = 0; i < 200; ++i) k.change(*c, r);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const std::string before = image(*c) + k.shape(*c);
    c->begin_undo();
    for (uint32_t i = 1 + r() % 30; i > 0; --i) k.change(*c, r);
    c->rollback();
    ASSERT_EQ(image(*c) + k.shape(*c), before);
    for (int i = 0; i < 5; ++i) k.change(*c, r);  // drift, unrecorded
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, UndoArrays, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<array_case>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace nosql_db
