// Long random operation sequences on the deque and the list, checked against
// std::deque and std::list as they go (NOSQL_LONG=1 runs far longer),
// with the containers' structure checked after every operation: the deque's
// block bookkeeping, the list's links both ways and its handle table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <iterator>
#include <list>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "containers/sequence/deque.h"
#include "containers/sequence/list.h"
#include "test_util.h"

namespace nosql_db {
namespace {

using testing_util::all_of;
uint64_t op_count() { return testing_util::op_count(20'000, 100); }

// The deque's bookkeeping (containers/sequence/deque.h): its front and back counts
// make the size; consumed slots (the origin) lie only on a side that holds
// no element, and none are left once the deque is empty; every block with a live slot
// is allocated, and every block of consumed slots with one more whole
// consumed block between it and the live ones is freed.
template <class K>
void check_blocks(const deque_adt<K>& d) {
  constexpr uint64_t b = deque_adt<K>::block_size;
  const auto lay = d.inspect();
  EXPECT_EQ(lay.front_count + lay.back_count, d.size());
  EXPECT_TRUE(lay.origin <= 0 || lay.front_count == 0);
  EXPECT_TRUE(lay.origin >= 0 || lay.back_count == 0);
  EXPECT_TRUE(lay.origin == 0 || d.size() > 0);
  // Entry 2k is block k of the back side, 2k + 1 block k of the front side.
  const auto side = [&](uint64_t sd, uint64_t consumed, uint64_t live) {
    for (uint64_t k = consumed / b; live > 0 && k <= (consumed + live - 1) / b; ++k)
      EXPECT_TRUE(d.has_block(2 * k + sd)) << "live block " << k << " of side " << sd;
    for (uint64_t k = 0; k + 2 <= consumed / b; ++k)
      EXPECT_FALSE(d.has_block(2 * k + sd)) << "consumed block " << k << " of side " << sd;
  };
  side(0, lay.origin > 0 ? static_cast<uint64_t>(lay.origin) : 0, lay.back_count);
  side(1, lay.origin < 0 ? static_cast<uint64_t>(-lay.origin) : 0, lay.front_count);
}

// Run over a type whose elements live on the heap too, so that freed and
// reused blocks are seen by AddressSanitizer with owned elements in them.
template <class K>
void deque_run(uint32_t seed, K (*make)(int64_t)) {
  SCOPED_TRACE(seed);
  std::mt19937_64 rng(seed);
  deque_adt<K> d;
  std::deque<K> m;
  int64_t next = 0;
  // Sizes drift around a few thousand so blocks and origins all get used.
  uint64_t largest = 0;
  for (uint64_t round = 0; round < op_count(); ++round) {
    // Phases of 4096 operations alternate between growing and shrinking, so
    // the deque spans several blocks and also drains to empty.
    const bool growing = (round / 4096) % 2 == 0;
    uint64_t op = rng() % 100;
    if (growing && op >= 44 && op < 80 && rng() % 3 != 0) op = op % 44;
    if (growing && op >= 95 && op < 99) op = 90;
    const uint64_t n = m.size();
    K v{};
    if (op < 22) {
      d.ins_last(make(next));
      m.push_back(make(next++));
    } else if (op < 44) {
      d.ins_first(make(next));
      m.push_front(make(next++));
    } else if (op < 62) {
      ASSERT_TRUE(d.del_first());
      if (n) m.pop_front();
    } else if (op < 80) {
      ASSERT_TRUE(d.del_last());
      if (n) m.pop_back();
    } else if (op < 85) {
      const uint64_t i = rng() % (n + 2);
      ASSERT_EQ(d.ins_nth(i, make(next)), i <= n);
      if (i <= n) m.insert(m.begin() + static_cast<std::ptrdiff_t>(i), make(next));
      ++next;
    } else if (op < 92) {
      const uint64_t p = rng() % (n + 2);
      ASSERT_EQ(d.get_nth(p, &v), p >= 1 && p <= n);
      if (p >= 1 && p <= n) {
        ASSERT_EQ(v, m[p - 1]);
      }
    } else if (op < 95) {
      const uint64_t p = rng() % (n + 2);
      ASSERT_EQ(d.set_nth(p, make(next)), p >= 1 && p <= n);
      if (p >= 1 && p <= n) m[p - 1] = make(next);
      ++next;
    } else if (op < 97) {
      const uint64_t k = rng() % 40;
      ASSERT_TRUE(d.del_first_n(k));
      m.erase(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(k, n)));
    } else if (op < 99) {
      const uint64_t k = rng() % 40;
      ASSERT_TRUE(d.del_last_n(k));
      m.erase(m.end() - static_cast<std::ptrdiff_t>(std::min<uint64_t>(k, n)), m.end());
    } else if (rng() % 50 == 0) {
      d.del_all();
      m.clear();
    }
    ASSERT_EQ(d.size(), m.size());
    check_blocks(d);
    ASSERT_FALSE(testing::Test::HasFailure()) << "round " << round;
    largest = std::max<uint64_t>(largest, m.size());
    if (!m.empty()) {
      ASSERT_TRUE(d.get_first(&v));
      ASSERT_EQ(v, m.front());
      ASSERT_TRUE(d.get_last(&v));
      ASSERT_EQ(v, m.back());
    }
    if (round % 997 == 0) {
      ASSERT_EQ(all_of(d), std::vector<K>(m.begin(), m.end()));
    }
  }
  ASSERT_EQ(all_of(d), std::vector<K>(m.begin(), m.end()));
  EXPECT_GT(largest, 2048u);  // the walk reached a third block
}

TEST(SequenceModel, DequeMatchesStdDeque) {
  for (uint32_t seed : {1u, 2u, 3u}) deque_run<int64_t>(seed, [](int64_t i) { return i; });
  deque_run<xstring>(4, [](int64_t i) { return xstring("s" + std::to_string(i)); });
}

// The list's links and handle table, walked through the handles: from the
// first element, each node's value is the model's, its handle the one it
// was given, its successor's predecessor itself; no two nodes share a table
// entry; and the table has exactly as many entries as the list ever held
// nodes at once (a freed entry is reused before the table grows).
void check_links(const list_adt<int64_t>& l, const std::list<int64_t>& m,
                 const std::unordered_map<int64_t, uint64_t>& handle_of, uint64_t peak) {
  ASSERT_EQ(l.handle_table_size(), peak);
  std::vector<bool> entry_used(peak + 1);
  uint64_t h = 0, prev = 0;
  if (!m.empty()) {
    ASSERT_TRUE(l.get_pos(m.front(), &h));
  }
  for (int64_t x : m) {
    ASSERT_EQ(h, handle_of.at(x)) << x;
    const uint64_t entry = h & 0xffffffffu;
    ASSERT_TRUE(entry >= 1 && entry <= peak && !entry_used[entry]) << x;
    entry_used[entry] = true;
    int64_t v;
    uint64_t back;
    ASSERT_TRUE(l.get_at_pos(h, &v) && l.get_prev_pos(h, &back));
    ASSERT_EQ(v, x);
    ASSERT_EQ(back, prev) << x;
    prev = h;
    ASSERT_TRUE(l.get_next_pos(h, &h));
  }
  ASSERT_EQ(h, 0u) << "the last node links on";
}

TEST(SequenceModel, ListMatchesStdListWithHandles) {
  for (uint32_t seed : {7u, 8u}) {
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    list_adt<int64_t> l;
    std::list<int64_t> m;
    // Values are unique, so get_pos names exactly one node.
    std::unordered_map<int64_t, uint64_t> handle_of;
    std::vector<uint64_t> dead;
    int64_t next = 0;
    auto add = [&](int64_t x) {
      uint64_t h;
      ASSERT_TRUE(l.get_pos(x, &h));
      handle_of[x] = h;
    };
    auto forget = [&](int64_t x) {
      dead.push_back(handle_of[x]);
      handle_of.erase(x);
    };
    auto random_live = [&] { return std::next(m.begin(), static_cast<std::ptrdiff_t>(rng() % m.size())); };
    const uint64_t list_rounds = op_count() / 4;  // positional walks are O(n)
    const uint64_t check_every = list_rounds > 5000 ? 97 : 1;  // so are the link checks
    uint64_t peak = 0;
    for (uint64_t round = 0; round < list_rounds; ++round) {
      const uint64_t op = rng() % 100;
      const uint64_t n = m.size();
      int64_t v = 0;
      if (op < 20) {
        l.ins_last(next);
        m.push_back(next);
        add(next++);
      } else if (op < 30) {
        l.ins_first(next);
        m.push_front(next);
        add(next++);
      } else if (op < 40) {
        // Positions below count insert before; count and count + 1 append.
        const uint64_t p = rng() % (n + 3);
        const bool ok = p >= 1 && p <= n + 1;
        ASSERT_EQ(l.ins_nth(p, next), ok);
        if (ok) {
          m.insert(p < n ? std::next(m.begin(), static_cast<std::ptrdiff_t>(p - 1)) : m.end(), next);
          add(next);
        }
        ++next;
      } else if (op < 50 && n) {
        const uint64_t p = rng() % (n + 1);
        ASSERT_EQ(l.del_nth(p), p >= 1);
        if (p >= 1) {
          auto it = std::next(m.begin(), static_cast<std::ptrdiff_t>(p - 1));
          forget(*it);
          m.erase(it);
        }
      } else if (op < 55 && n) {
        const uint64_t from = 1 + rng() % n, to = from + rng() % 6;
        ASSERT_TRUE(l.del_range(from, to));
        auto b = std::next(m.begin(), static_cast<std::ptrdiff_t>(from - 1));
        auto e = std::next(m.begin(), static_cast<std::ptrdiff_t>(std::min<uint64_t>(to, n)));
        for (auto it = b; it != e; ++it) forget(*it);
        m.erase(b, e);
      } else if (op < 65 && n) {
        auto it = random_live();
        ASSERT_TRUE(l.del_at_pos(handle_of[*it]));
        forget(*it);
        m.erase(it);
      } else if (op < 75 && n) {
        auto it = random_live();
        ASSERT_TRUE(l.ins_at_pos(handle_of[*it], next));
        m.insert(it, next);
        add(next++);
      } else if (op < 82 && n) {
        auto it = random_live();
        uint64_t h;
        ASSERT_TRUE(l.get_next_pos(handle_of[*it], &h));
        auto nx = std::next(it);
        ASSERT_EQ(h, nx == m.end() ? 0 : handle_of[*nx]);
        ASSERT_TRUE(l.get_prev_pos(handle_of[*it], &h));
        ASSERT_EQ(h, it == m.begin() ? 0 : handle_of[*std::prev(it)]);
        ASSERT_TRUE(l.get_at_pos(handle_of[*it], &v));
        ASSERT_EQ(v, *it);
      } else if (op < 88 && !dead.empty()) {
        const uint64_t h = dead[rng() % dead.size()];
        ASSERT_FALSE(l.get_at_pos(h, &v));
        ASSERT_FALSE(l.del_at_pos(h));
        ASSERT_FALSE(l.ins_at_pos(h, 0));
      } else if (op < 93 && n) {
        ASSERT_TRUE(l.del_first());
        forget(m.front());
        m.pop_front();
      } else if (op < 98 && n) {
        ASSERT_TRUE(l.del_last());
        forget(m.back());
        m.pop_back();
      } else if (op == 99 && rng() % 20 == 0) {
        for (int64_t x : m) forget(x);
        l.del_all();
        m.clear();
      }
      ASSERT_EQ(l.size(), m.size());
      peak = std::max<uint64_t>(peak, m.size());
      if (round % check_every == 0) {
        check_links(l, m, handle_of, peak);
        ASSERT_FALSE(testing::Test::HasFatalFailure()) << "round " << round;
      }
      if (round % 499 == 0) {
        ASSERT_EQ(all_of(l), std::vector<int64_t>(m.begin(), m.end()));
      }
    }
    ASSERT_EQ(all_of(l), std::vector<int64_t>(m.begin(), m.end()));
  }
}

}  // namespace
}  // namespace nosql_db
