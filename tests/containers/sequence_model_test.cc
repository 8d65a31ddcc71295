// Long random operation sequences on the deque and the list, checked step by
// step against std::deque and std::list (NOSQL_LONG=1 runs far more steps),
// and the deque's freeing and reuse of the blocks a queue-like use consumes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <iterator>
#include <list>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "containers/deque.h"
#include "containers/list.h"

namespace nosql_db {
namespace {

uint64_t steps() {
  const char* e = std::getenv("NOSQL_LONG");
  return e && *e == '1' ? 2'000'000 : 20'000;
}

template <class K>
std::vector<K> all_of(const adt<K>& c) {
  elem_array<K> l;
  EXPECT_TRUE(c.get_all(&l));
  return std::vector<K>(l.begin(), l.end());
}
template <class M>
std::vector<int64_t> model_all(const M& m) {
  return std::vector<int64_t>(m.begin(), m.end());
}

TEST(SequenceModel, DequeMatchesStdDeque) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937_64 rng(seed);
    deque_adt<int64_t> d;
    std::deque<int64_t> m;
    int64_t next = 0;
    // Sizes drift around a few thousand so blocks and origins all get used.
    uint64_t largest = 0;
    for (uint64_t step = 0; step < steps(); ++step) {
      // Phases of 4096 steps alternate between growing and shrinking, so
      // the deque spans several blocks and also drains to empty.
      const bool growing = (step / 4096) % 2 == 0;
      uint64_t op = rng() % 100;
      if (growing && op >= 44 && op < 80 && rng() % 3 != 0) op = op % 44;
      if (growing && op >= 95 && op < 99) op = 90;
      const uint64_t n = m.size();
      int64_t v = 0;
      if (op < 22) {
        d.ins_last(next);
        m.push_back(next++);
      } else if (op < 44) {
        d.ins_first(next);
        m.push_front(next++);
      } else if (op < 62) {
        ASSERT_TRUE(d.del_first());
        if (n) m.pop_front();
      } else if (op < 80) {
        ASSERT_TRUE(d.del_last());
        if (n) m.pop_back();
      } else if (op < 85) {
        const uint64_t i = rng() % (n + 2);
        ASSERT_EQ(d.ins_nth(i, next), i <= n);
        if (i <= n) m.insert(m.begin() + static_cast<std::ptrdiff_t>(i), next);
        ++next;
      } else if (op < 92) {
        const uint64_t p = rng() % (n + 2);
        ASSERT_EQ(d.get_nth(p, &v), p >= 1 && p <= n);
        if (p >= 1 && p <= n) {
          ASSERT_EQ(v, m[p - 1]);
        }
      } else if (op < 95) {
        const uint64_t p = rng() % (n + 2);
        ASSERT_EQ(d.set_nth(p, next), p >= 1 && p <= n);
        if (p >= 1 && p <= n) m[p - 1] = next;
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
      largest = std::max<uint64_t>(largest, m.size());
      if (!m.empty()) {
        ASSERT_TRUE(d.get_first(&v));
        ASSERT_EQ(v, m.front());
        ASSERT_TRUE(d.get_last(&v));
        ASSERT_EQ(v, m.back());
      }
      if (step % 997 == 0) {
        ASSERT_EQ(all_of(d), model_all(m));
      }
    }
    ASSERT_EQ(all_of(d), model_all(m));
    EXPECT_GT(largest, 2048u);  // the walk reached a third block
  }
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
    auto random_live = [&]() {
      auto it = m.begin();
      std::advance(it, static_cast<std::ptrdiff_t>(rng() % m.size()));
      return it;
    };
    const uint64_t list_steps = steps() / 4;  // positional walks are O(n)
    for (uint64_t step = 0; step < list_steps; ++step) {
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
      if (step % 499 == 0) {
        ASSERT_EQ(all_of(l), model_all(m));
      }
    }
    ASSERT_EQ(all_of(l), model_all(m));
  }
}

// Used as a queue (or a reversed one), a deque frees the blocks it has
// consumed, and comes back through them correctly.
TEST(DequeKind, ConsumedBlocksAreFreedAndReallocated) {
  constexpr int64_t b = 1024;
  deque_adt<int64_t> d;
  std::deque<int64_t> model;
  for (int64_t i = 0; i < 10; ++i) {
    d.ins_last(i);
    model.push_back(i);
  }
  for (int64_t i = 10; i < 5 * b; ++i) {
    d.ins_last(i);
    model.push_back(i);
    d.del_first();
    model.pop_front();
  }
  // 5 * b - 10 back slots consumed: blocks 0, 1 and 2 are behind the gap.
  EXPECT_EQ(d.inspect().origin, 5 * b - 10);
  EXPECT_FALSE(d.has_block(0));
  EXPECT_FALSE(d.has_block(2));
  EXPECT_FALSE(d.has_block(4));
  EXPECT_TRUE(d.has_block(6));  // the gap block
  EXPECT_TRUE(d.has_block(8));  // the live block
  // Front insertions reuse the consumed back slots, down through the freed
  // blocks, and keep the order.
  for (int64_t i = 0; i < 5 * b; ++i) {
    d.ins_first(-i);
    model.push_front(-i);
  }
  EXPECT_TRUE(d.has_block(0));
  EXPECT_EQ(all_of(d), std::vector<int64_t>(model.begin(), model.end()));

  // The mirror image on the front side, with strings.
  deque_adt<xstring> s;
  std::deque<std::string> sm;
  for (int64_t i = 0; i < 3 * b + 5; ++i) {
    const std::string t = "s" + std::to_string(i);
    s.ins_first(xstring(t));
    sm.push_front(t);
    if (i >= 3) {
      s.del_last();
      sm.pop_back();
    }
  }
  EXPECT_FALSE(s.has_block(1));
  EXPECT_TRUE(s.has_block(5));
  EXPECT_EQ(s.inspect().origin, -(3 * b + 2));
  std::vector<std::string> got;
  for (const xstring& x : all_of(s)) got.emplace_back(x.view());
  EXPECT_EQ(got, std::vector<std::string>(sm.begin(), sm.end()));
}

}  // namespace
}  // namespace nosql_db
