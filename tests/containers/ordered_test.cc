// Set, multiset, map and multimap: tree invariants after every step of long
// random runs against the standard containers, tree shapes at node edges,
// and the store's name directory (the command tables cover the words).
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "test_util.h"
#include "containers/ordered/map.h"
#include "containers/ordered/set.h"

namespace nosql_db {
namespace {


using namespace testing_util;
using vi = std::vector<int32_t>;

bool growing(uint64_t op) { return (op / 6000) % 2 == 0; }

// ---- random runs against std::multiset / std::multimap ----

template <bool Multi>
void set_property_run(uint64_t ops, uint32_t seed) {
  ordered_set_adt<int32_t, Multi> s(u08_desc);
  std::multiset<int32_t> m;
  std::mt19937 rng(seed);
  auto key = [&] { return static_cast<int32_t>(rng() % 30000); };
  elem_array<int32_t> l;
  for (uint64_t i = 0; i < ops; ++i) {
    // b lies near a, so that range deletions take a few keys, not a third.
    const int32_t a = key(), b = a + static_cast<int32_t>(rng() % 64);
    // Phases that grow the tree to several thousand keys (two inner
    // levels) and shrink it again, so splits and merges reach every level.
    const uint32_t pick = growing(i) && rng() % 4 ? 0 : rng() % 10;
    switch (pick) {
      case 0: case 1: case 2: case 3: {
        const bool fresh = !m.count(a);
        ASSERT_EQ(s.ins_key(a, u08_value), Multi || fresh);
        if (Multi || fresh) m.insert(a);
        break;
      }
      case 4: {
        const bool had = m.count(a) > 0;
        ASSERT_EQ(s.del_eq(a), !Multi || had);
        m.erase(a);
        break;
      }
      case 5: {  // a < x <= b
        const auto lo = m.upper_bound(a), hi = m.upper_bound(b);
        const bool any = a < b && lo != hi;
        ASSERT_EQ(s.del_le_gt(a, b), !Multi || any);
        if (a < b) m.erase(lo, hi);
        break;
      }
      case 6: {
        const bool any = !m.empty();
        ASSERT_EQ(s.del_min(), any);
        if (any) m.erase(m.begin());
        break;
      }
      case 7: {  // re-key every copy of a to b
        const auto n = m.count(a);
        const bool ok = s.set_eq(a, b);
        if (Multi) {
          ASSERT_TRUE(ok);
          m.erase(a);
          for (size_t j = 0; j < n; ++j) m.insert(b);
        } else {
          ASSERT_EQ(ok, n == 1);
          if (n == 1 && !m.count(b)) {
            m.erase(a);
            m.insert(b);
          }
        }
        break;
      }
      case 8: {
        const bool any = !m.empty();
        ASSERT_EQ(s.set_max(b), any);
        if (any && (Multi || !m.count(b))) {
          m.erase(std::prev(m.end()));
          m.insert(b);
        }
        break;
      }
      default: {
        uint64_t r = 0;
        const bool found = s.get_rank(a, &r);
        ASSERT_EQ(found, m.count(a) > 0);
        if (found && !Multi) {
          ASSERT_EQ(r, static_cast<uint64_t>(std::distance(m.begin(), m.find(a))));
        }
        if (found && Multi) {
          ASSERT_GE(r, static_cast<uint64_t>(std::distance(m.begin(), m.lower_bound(a))));
          ASSERT_LT(r, static_cast<uint64_t>(std::distance(m.begin(), m.upper_bound(a))));
        }
        ASSERT_TRUE(s.get_lt_ge(a, b, &l));
        ASSERT_EQ(to_vec(l), vi(m.lower_bound(a), a < b ? m.lower_bound(b) : m.lower_bound(a)));
      }
    }
    ASSERT_TRUE(s.verify()) << "after op " << i;
    ASSERT_EQ(s.size(), m.size());
    if (i % 256 == 0) {
      ASSERT_EQ(all_of(s), vi(m.begin(), m.end()));
    }
  }
  ASSERT_EQ(all_of(s), vi(m.begin(), m.end()));
}

template <bool Multi>
void map_property_run(uint64_t ops, uint32_t seed) {
  ordered_map_adt<int32_t, int32_t, Multi> c;
  std::multimap<int32_t, int32_t> m;  // insert() appends behind equal keys, as the multimap does
  std::mt19937 rng(seed);
  auto key = [&] { return static_cast<int32_t>(rng() % 4000); };
  int32_t serial = 0;
  auto values_of = [&](int32_t k) {
    vi v;
    for (auto [it, e] = m.equal_range(k); it != e; ++it) v.push_back(it->second);
    return v;
  };
  for (uint64_t i = 0; i < ops; ++i) {
    const int32_t a = key(), b = key();
    const uint32_t pick = growing(i) && rng() % 2 ? 0 : rng() % 8;
    switch (pick) {
      case 0: case 1: case 2: {
        const int32_t v = serial++;
        const bool fresh = !m.count(a);
        ASSERT_EQ(c.ins_key(a, value_ref{scalar::i32, &v}), Multi || fresh);
        if (Multi || fresh) m.emplace(a, v);
        break;
      }
      case 3: {
        const bool had = m.count(a) > 0;
        ASSERT_EQ(c.del_eq(a), had);
        m.erase(a);
        break;
      }
      case 4: {
        const bool any = !m.empty(), at_max = rng() % 2;
        ASSERT_EQ(at_max ? c.del_max() : c.del_min(), any);
        if (any) m.erase(at_max ? std::prev(m.end()) : m.begin());
        break;
      }
      case 5: {
        const vi moved = values_of(a);
        const bool ok = c.set_eq(a, b);
        if (Multi) {
          ASSERT_EQ(ok, !moved.empty());
          if (a != b) {
            m.erase(a);
            for (int32_t v : moved) m.emplace(b, v);
          }
        } else {
          ASSERT_EQ(ok, !moved.empty() && (a == b || !m.count(b)));
          if (ok && a != b) {
            m.erase(a);
            m.emplace(b, moved[0]);
          }
        }
        break;
      }
      case 6: {
        const bool any = !m.empty();
        const bool ok = c.set_min(b);
        if (!any) {
          ASSERT_FALSE(ok);
          break;
        }
        const auto first = *m.begin();
        ASSERT_EQ(ok, Multi || first.first == b || !m.count(b));
        if (ok) {
          m.erase(m.begin());
          m.emplace(b, first.second);
        }
        break;
      }
      default: {
        elem_array<int32_t> vals;
        const bool found = c.get_value(a, value_list_ref{scalar::i32, &vals});
        ASSERT_EQ(found, m.count(a) > 0);
        ASSERT_EQ(to_vec(vals), values_of(a));
      }
    }
    ASSERT_TRUE(c.verify()) << "after op " << i;
    ASSERT_EQ(c.size(), m.size());
    if (i % 256 == 0) {
      vi keys;
      for (auto& [k, v] : m) keys.push_back(k);
      ASSERT_EQ(all_of(c), keys);
    }
  }
  // Every value in order, which pins the order of equal keys.
  for (auto it = m.begin(); it != m.end(); it = m.upper_bound(it->first)) {
    elem_array<int32_t> vals;
    ASSERT_TRUE(c.get_value(it->first, value_list_ref{scalar::i32, &vals}));
    ASSERT_EQ(to_vec(vals), values_of(it->first));
  }
}

TEST(OrderedProperty, Set) { set_property_run<false>(op_count(20000), 1); }
TEST(OrderedProperty, Multiset) { set_property_run<true>(op_count(20000), 2); }
TEST(OrderedProperty, Map) { map_property_run<false>(op_count(20000), 3); }
TEST(OrderedProperty, Multimap) { map_property_run<true>(op_count(20000), 4); }

// ---- tree shapes at node edges ----

// Zero-padded decimal strings, so that text order is number order. String
// keys make small nodes (20 keys to a leaf), so a few thousand keys give
// three levels.
xstring skey(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "%06d", i);
  return xstring(b);
}

// Orders of 0 to n - 1 that take every split, merge and borrow path:
// ascending and descending (the packing splits at both ends), alternating
// ends, and scattered.
const std::pair<const char*, int (*)(int, int)> orders[] = {
    {"ascending", [](int i, int) { return i; }},
    {"descending", [](int i, int n) { return n - 1 - i; }},
    {"alternating ends", [](int i, int n) { return i % 2 ? n - 1 - i / 2 : i / 2; }},
    {"scattered", [](int i, int n) { return (i * 7919) % n; }},
};

// Every insertion order with every deletion order, on a set of strings and
// on a map of strings to strings, whose nodes are the narrowest (10 entries
// to a leaf, 25 children to an inner node): 7,000 of those stand four
// levels high even packed, so rebalancing reaches inner nodes under inner
// nodes.
template <bool Map>
void insert_and_delete_orders(int n, int verify_every, int height) {
  using C = std::conditional_t<Map, map_adt<xstring, xstring>, set_adt<xstring>>;
  for (const auto& [in_name, in] : orders) {
    for (const auto& [out_name, out] : orders) {
      SCOPED_TRACE(testing::Message() << in_name << " in, " << out_name << " out");
      const auto s = [] {
        if constexpr (Map) return std::make_unique<C>();
        else return std::make_unique<C>(u08_desc);
      }();
      for (int i = 0; i < n; ++i) {
        const xstring v = skey(i);
        ASSERT_TRUE(s->ins_key(skey(in(i, n)), Map ? value_ref{scalar::string, &v} : u08_value));
        ASSERT_TRUE(i % verify_every || s->verify()) << "insert " << i;
      }
      EXPECT_GE(s->height(), height);
      for (int i = 0; i < n && !Map; i += 97) {
        uint64_t r = 0;
        ASSERT_TRUE(s->get_rank(skey(i), &r));
        EXPECT_EQ(r, static_cast<uint64_t>(i));
      }
      for (int i = 0; i < n; ++i) {
        ASSERT_TRUE(s->del_eq(skey(out(i, n))));
        ASSERT_TRUE(i % verify_every || s->verify()) << "delete " << i;
        ASSERT_EQ(s->size(), static_cast<uint64_t>(n - 1 - i));
      }
    }
  }
}
TEST(OrderedTree, InsertAndDeleteOrders) {
  insert_and_delete_orders<false>(1500, 1, 2);
  insert_and_delete_orders<true>(7000, 16, 3);
}

// Every split copies its separator after reserving its nodes and before
// changing anything. A copy that fails must leave the tree as it was and
// give the nodes back (LeakSanitizer); the insertion then goes through.
// The orders take the packing splits at both ends, the middle ones, inner
// splits and two new roots.
bool fail_copy = false;
void copy_or_fail(void* dst, const void* src) {
  if (fail_copy) throw std::bad_alloc();
  std::memcpy(dst, src, sizeof(int32_t));
}
std::vector<int32_t> keys_of(const bt_tree& t) {
  std::vector<int32_t> v;
  for (bt_leaf* l = t.head(); l; l = l->next) v.insert(v.end(), bt_leaf_key<int32_t>(l, 0), bt_leaf_key<int32_t>(l, l->n));
  return v;
}
TEST(OrderedTree, FailedSplitChangesNothing) {
  bt_shape s = bt_shape_v<int32_t, bt_no_value>;
  s.copy_key = &copy_or_fail;
  constexpr int n = 8000;  // two inner levels, whatever the order
  for (const auto& [name, order] : orders) {
    SCOPED_TRACE(name);
    bt_tree t;
    std::vector<int32_t> model;
    for (int i = 0; i < n; ++i) {
      const int32_t k = order(i, n);
      bt_path p;
      bt_seek<int32_t, false, false>(t, s, k, &p);
      fail_copy = true;
      try {
        t.insert(s, p, &k, nullptr);  // no split, no copy
      } catch (const std::bad_alloc&) {
        ASSERT_TRUE(t.verify(s, &bt_compare<int32_t>, false)) << k;
        ASSERT_EQ(keys_of(t), model) << k;
        fail_copy = false;
        t.insert(s, p, &k, nullptr);  // the path is still good
      }
      fail_copy = false;
      model.insert(std::lower_bound(model.begin(), model.end(), k), k);
    }
    EXPECT_TRUE(t.verify(s, &bt_compare<int32_t>, false));
    EXPECT_EQ(keys_of(t), model);
    EXPECT_EQ(t.height(), 2);
    t.clear(s);
  }
}

// Ascending and descending insertion fill every leaf before they start the
// next: the number of leaves grows by one every k keys, k being the number
// at which the first leaf split. A dump body read back builds the tree
// from the bottom up as packed, whatever shape the saved tree had; a
// hand-made body out of order still goes in, element by element, by the
// insertion rules.
TEST(OrderedTree, OrderedInsertionAndReadingPackLeaves) {
  for (int32_t dir : {1, -1}) {
    set_adt<int32_t> s(u08_desc);
    uint64_t per_leaf = 0;
    for (int32_t k = 0; k < 20000; ++k) {
      ASSERT_TRUE(s.ins_key(dir * k, u08_value));
      if (per_leaf == 0 && s.leaves() == 2) per_leaf = static_cast<uint64_t>(k);
      if (per_leaf != 0) {
        ASSERT_EQ(s.leaves(), (static_cast<uint64_t>(k) + per_leaf) / per_leaf) << k;
      }
    }
    EXPECT_GT(per_leaf, 1u);
    EXPECT_TRUE(s.verify());
  }
  multiset_adt<int32_t> s(u08_desc), back(u08_desc), packed(u08_desc);
  for (int32_t i = 0; i < 20000; ++i) ASSERT_TRUE(s.ins_key((i * 7919) % 5000, u08_value));
  const std::string body = testing_util::image(s).substr(8 + 8 + 6);  // after kind word and types
  ASSERT_TRUE(testing_util::load_from(back, body));
  for (int32_t k : all_of(s)) ASSERT_TRUE(packed.ins_key(k, u08_value));
  EXPECT_TRUE(back.verify());
  EXPECT_LT(back.leaves(), s.leaves());
  EXPECT_EQ(back.leaves(), packed.leaves());
  EXPECT_EQ(all_of(back), all_of(s));

  set_adt<int32_t> hand(u08_desc);
  testing_util::bytes out_of_order;
  out_of_order.u64(6);
  for (int32_t k : {5, 3, 9, 3, 1, 5}) out_of_order.le(k);
  ASSERT_TRUE(testing_util::load_from(hand, out_of_order.b));
  EXPECT_EQ(all_of(hand), (vi{1, 3, 5, 9}));
  EXPECT_TRUE(hand.verify());
}

// The search within a node against std::lower_bound / upper_bound, for
// every integer key type: runs of equal keys, the type's extremes, every
// length up to a full leaf (the compares take 16 bytes at a time and the
// rest one by one).
template <class K>
void node_search_matches_std(std::mt19937& rng) {
  constexpr K lo = std::numeric_limits<K>::min(), hi = std::numeric_limits<K>::max();
  auto pick = [&] { return rng() % 6 == 0 ? (rng() % 2 ? hi : lo) : static_cast<K>(rng() % 40 + 60); };
  for (uint32_t n = 0; n <= bt_shape_v<K, bt_no_value>.leaf_cap; ++n) {
    std::vector<K> a(n);
    for (K& x : a) x = pick();
    std::sort(a.begin(), a.end());
    for (const K k : {pick(), pick(), lo, hi}) {
      ASSERT_EQ((bt_bound<K, false>(a.data(), n, k)), static_cast<uint32_t>(std::lower_bound(a.begin(), a.end(), k) - a.begin())) << n;
      ASSERT_EQ((bt_bound<K, true>(a.data(), n, k)), static_cast<uint32_t>(std::upper_bound(a.begin(), a.end(), k) - a.begin())) << n;
    }
  }
}
TEST(OrderedTree, NodeSearchMatchesStd) {
  std::mt19937 rng(9);
  [&]<class... K>(type_tag<K>...) { (node_search_matches_std<K>(rng), ...); }(
      type_tag<int8_t>{}, type_tag<uint8_t>{}, type_tag<int16_t>{}, type_tag<uint16_t>{}, type_tag<int32_t>{},
      type_tag<uint32_t>{}, type_tag<int64_t>{}, type_tag<uint64_t>{});
}

// Runs of equal keys longer than a leaf in the multi kinds: reads, rank,
// values in arrival order, moving and deleting whole runs.
TEST(OrderedTree, EqualRunsAcrossLeaves) {
  multiset_adt<int32_t> s(u08_desc);
  multimap_adt<int32_t, int32_t> m;
  vi want;
  for (int32_t i = 0; i < 700; ++i) {
    const int32_t k = i % 7 == 0 ? 1 + i % 3 : 5;  // 600 fives among others
    ASSERT_TRUE(s.ins_key(k, u08_value));
    ASSERT_TRUE(m.ins_key(k, value_ref{scalar::i32, &i}));
    if (k == 5) want.push_back(i);
  }
  elem_array<int32_t> l;
  ASSERT_TRUE(s.get_eq(5, &l));
  EXPECT_EQ(l.size(), 600u);
  uint64_t r = 0;
  ASSERT_TRUE(s.get_rank(5, &r));
  EXPECT_EQ(r, 100u);  // the first five
  ASSERT_TRUE(m.get_value(5, value_list_ref{scalar::i32, &l}));
  EXPECT_EQ(to_vec(l), want);
  ASSERT_TRUE(m.set_eq(5, 2));  // behind the 2s, in order
  ASSERT_TRUE(m.get_value(2, value_list_ref{scalar::i32, &l}));
  ASSERT_EQ(l.size(), 633u);
  EXPECT_EQ(vi(l.begin() + 33, l.end()), want);
  ASSERT_TRUE(s.set_eq(5, 0));
  EXPECT_TRUE(s.del_lt_ge(0, 1));
  EXPECT_TRUE(m.del_eq(2));
  EXPECT_EQ(s.size(), 100u);
  EXPECT_EQ(m.size(), 67u);
  EXPECT_TRUE(s.verify() && m.verify());
}

// ---- the name directory ----

TEST(NameDirectory, NamesComeAndGo) {
  // Enough names for three levels in the directory, then erased and made
  // again in scattered orders: a separator that showed an erased name
  // would be read after its container is gone (AddressSanitizer).
  constexpr int n = 1200;
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back("n" + std::to_string((i * 37) % n));
  testing_util::test_store t;
  for (const auto& name : names) ASSERT_TRUE(t.ok("c set i32 " + name));
  EXPECT_FALSE(t.ok("c set i32 " + names[6]));  // names stay unique
  std::mt19937 rng(3);
  std::vector<bool> live(n, true);
  for (int round = 0; round < 3 * n; ++round) {
    const auto i = static_cast<size_t>(rng() % n);
    ASSERT_TRUE(t.ok(live[i] ? "e \"" + names[i] + "\"" : "c set i32 " + names[i]));
    live[i] = !live[i];
    if (round % 100 == 0) {
      for (int j = 0; j < n; ++j) {
        uint64_t v = 0;
        ASSERT_EQ(t.s.find_name(names[j], &v), live[j]) << names[j];
        ASSERT_TRUE(!live[j] || t.s.at(v)->name().view() == names[j]) << names[j];
      }
    }
  }
}

}  // namespace
}  // namespace nosql_db
