// The heap against a sorted model (std::multiset) over long random runs of
// pushes, pops and top replacements, for narrow and wide integers, strings
// and floats (NOSQL_LONG=1 runs far longer). After every operation the heap
// holds exactly the model's elements and its top is the model's smallest,
// and its array is in heap order: no element below its parent. A NaN,
// which compares false both ways, may leave the order broken (pushes and
// pops never move past it); the elements still match, and once the heap
// has been emptied the order holds again.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "containers/sequence/heap.h"
#include "test_util.h"

namespace nosql_db {
namespace {

using namespace testing_util;


const auto by_less = [](const auto& a, const auto& b) { return less(a, b); };
const auto same_value = [](const auto& a, const auto& b) { return !less(a, b) && !less(b, a); };

// Values that collide often, with the type's extremes and, for floats,
// infinities and (now and then) NaN.
template <class K>
K pick(std::mt19937_64& rng) {
  using lim = std::numeric_limits<K>;
  const uint64_t r = rng() % 64;
  if constexpr (std::is_same_v<K, xstring>) {
    static constexpr char bytes[] = {'a', 'b', '\x7f', '\x80', '\xff'};  // strings order by signed bytes
    std::string s(rng() % 4, 'a');
    for (char& c : s) c = bytes[rng() % sizeof bytes];
    return xstring(s);
  } else if constexpr (is_float_v<K>) {
    if (rng() % 1024 == 0) return lim::quiet_NaN();  // rare: a NaN leaves the heap unordered until emptied
    if (r < 4) return std::array{lim::infinity(), -lim::infinity(), lim::max(), lim::lowest()}[r];
    return static_cast<K>(static_cast<int>(rng() % 200) - 100) / 4;
  } else {
    if (r < 2) return r == 0 ? lim::min() : lim::max();
    return static_cast<K>(lim::min() / 2 + static_cast<int64_t>(rng() % 150));
  }
}

template <class K>
void heap_model_run(uint32_t seed, uint64_t ops) {
  std::mt19937_64 rng(seed);
  heap_adt<K> h;
  std::multiset<K, std::remove_const_t<decltype(by_less)>> model;  // every element but NaN
  uint64_t nans = 0, tops_checked = 0, largest = 0;
  bool growing = true, unordered = false;
  auto add_model = [&](const K& x) {
    if (is_nan(x)) ++nans;
    else model.insert(x);
  };
  // Takes the heap's old top out of the model.
  auto pop_model = [&](const K& top) {
    if (is_nan(top)) {
      --nans;
    } else {
      ASSERT_NE(model.find(top), model.end());
      model.erase(model.find(top));
    }
  };
  for (uint64_t round = 0; round < ops; ++round) {
    // Phases fill the heap to a few hundred elements, then drain it.
    const uint64_t n = model.size() + nans;
    growing = n == 0 || (growing && n < 300);
    const uint64_t op = rng() % 100;
    const K x = pick<K>(rng);
    K top{};
    ASSERT_EQ(h.get_min(&top), n > 0);
    if (op < (growing ? 70 : 25)) {
      ASSERT_TRUE(h.ins_key(x, u08_value));
      add_model(x);
    } else if (op < 85) {
      ASSERT_EQ(h.del_min(), n > 0);
      if (n > 0) pop_model(top);
    } else if (op < 99) {
      ASSERT_EQ(h.set_min(x), n > 0);
      if (n > 0) {
        pop_model(top);
        add_model(x);
      }
    } else {
      ASSERT_TRUE(h.del_all());
      model.clear();
      nans = 0;
    }
    if (nans > 0) unordered = true;
    if (model.empty() && nans == 0) unordered = false;
    largest = std::max<uint64_t>(largest, model.size());

    const std::vector<K> a = testing_util::all_of(h);  // the array in storage order
    ASSERT_EQ(a.size(), model.size() + nans);
    ASSERT_EQ(h.size(), a.size());
    std::vector<K> sorted;
    for (const K& e : a)
      if (!is_nan(e)) sorted.push_back(e);
    ASSERT_EQ(static_cast<uint64_t>(a.size() - sorted.size()), nans) << "round " << round;
    std::sort(sorted.begin(), sorted.end(), by_less);
    ASSERT_TRUE(std::equal(sorted.begin(), sorted.end(), model.begin(), model.end(), same_value))
        << "round " << round;
    if (unordered) continue;
    for (size_t i = 1; i < a.size(); ++i) ASSERT_FALSE(less(a[i], a[(i - 1) / 2])) << "round " << round << ", slot " << i;
    if (!a.empty()) {
      ASSERT_TRUE(h.get_min(&top));
      ASSERT_TRUE(same_value(top, *model.begin())) << "round " << round;
      ++tops_checked;
    }
  }
  EXPECT_GT(largest, 200u);
  EXPECT_GT(tops_checked, ops / 4);  // NaN did not hide the order for most of the run
}

TEST(HeapModel, NarrowIntegers) { heap_model_run<int8_t>(1, op_count(20000)); }
TEST(HeapModel, WideUnsigned) { heap_model_run<uint64_t>(2, op_count(20000)); }
TEST(HeapModel, Strings) { heap_model_run<xstring>(3, op_count(10000)); }
TEST(HeapModel, DoublesWithNaN) { heap_model_run<double>(4, op_count(20000)); }
TEST(HeapModel, FloatsWithNaN) { heap_model_run<float>(5, op_count(20000)); }

// A heap built with another value type than u08 (read from a dump) takes
// no key, nor does any heap offered a value of another type.
TEST(HeapModel, RefusedPushesChangeNothing) {
  heap_adt<int32_t> h, other(false);
  const int32_t wrong = 1;
  EXPECT_FALSE(h.ins_key(1, value_ref{scalar::i32, &wrong}) || other.ins_key(1, u08_value));
  EXPECT_EQ(h.size() + other.size(), 0u);
}

}  // namespace
}  // namespace nosql_db
