// Set, multiset, map and multimap: tree invariants under long random runs
// against the standard containers, the documented result tables, key
// orders of the non-integer types, and the commands that reach these kinds.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "api/exec.h"
#include "lang/codec.h"
#include "containers/map.h"
#include "containers/set.h"

namespace nosql_db {
namespace {

const uint8_t no_value = 0;
const value_ref u8_ref{scalar::u08, &no_value};

template <class K>
std::vector<K> to_vec(const elem_array<K>& l) {
  return std::vector<K>(l.begin(), l.end());
}
template <class K>
std::vector<K> all_of(const adt<K>& c) {
  elem_array<K> l;
  EXPECT_TRUE(c.get_all(&l));
  return to_vec(l);
}
template <class K, bool M>
std::unique_ptr<ordered_set_adt<K, M>> make_set(std::initializer_list<K> keys) {
  auto s = std::make_unique<ordered_set_adt<K, M>>(u08_desc);
  for (const K& k : keys) s->ins_key(k, u8_ref);
  return s;
}
using vi = std::vector<int32_t>;

uint64_t op_count(uint64_t normal) { return std::getenv("NOSQL_LONG") ? 1000000 : normal; }
bool growing(uint64_t op) { return (op / 6000) % 2 == 0; }

// ---- random runs against std::multiset / std::multimap ----

template <bool Multi>
void set_property_run(uint64_t ops, uint32_t seed) {
  ordered_set_adt<int32_t, Multi> s(u08_desc);
  std::multiset<int32_t> m;
  std::mt19937 rng(seed);
  auto key = [&] { return static_cast<int32_t>(rng() % 4000); };
  elem_array<int32_t> l;
  for (uint64_t i = 0; i < ops; ++i) {
    const int32_t a = key(), b = key();
    // Phases that grow the tree to a few thousand keys (two inner levels)
    // and shrink it again, so that splits and merges reach every level.
    const uint32_t pick = growing(i) && rng() % 2 ? 0 : rng() % 10;
    switch (pick) {
      case 0: case 1: case 2: case 3: {
        const bool fresh = !m.count(a);
        ASSERT_EQ(s.ins_key(a, u8_ref), Multi || fresh);
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

// Insertion and deletion orders that take every split, merge and borrow
// path: ascending and descending (the packing splits at both ends),
// alternating ends, and scattered.
TEST(OrderedTree, InsertAndDeleteOrders) {
  constexpr int n = 1500;
  using order = int (*)(int);
  const std::pair<const char*, order> orders[] = {
      {"ascending", [](int i) { return i; }},
      {"descending", [](int i) { return n - 1 - i; }},
      {"alternating ends", [](int i) { return i % 2 ? n - 1 - i / 2 : i / 2; }},
      {"scattered", [](int i) { return (i * 7919) % n; }},
  };
  for (const auto& [in_name, in] : orders) {
    for (const auto& [out_name, out] : orders) {
      SCOPED_TRACE(testing::Message() << in_name << " in, " << out_name << " out");
      set_adt<xstring> s(u08_desc);
      for (int i = 0; i < n; ++i) {
        ASSERT_TRUE(s.ins_key(skey(in(i)), u8_ref));
        ASSERT_TRUE(s.verify()) << "insert " << i;
      }
      EXPECT_GE(s.height(), 2);
      for (int i = 0; i < n; i += 97) {
        uint64_t r = 0;
        ASSERT_TRUE(s.get_rank(skey(i), &r));
        EXPECT_EQ(r, static_cast<uint64_t>(i));
      }
      for (int i = 0; i < n; ++i) {
        ASSERT_TRUE(s.del_eq(skey(out(i))));
        ASSERT_TRUE(s.verify()) << "delete " << i;
        ASSERT_EQ(s.size(), static_cast<uint64_t>(n - 1 - i));
      }
    }
  }
}

// Ascending and descending insertion pack every leaf full (a dump read
// builds trees the same way): 100,000 keys take as few leaves as they can.
TEST(OrderedTree, OrderedInsertionPacksLeaves) {
  const uint32_t cap = bt_shape_v<int32_t, bt_no_value>.leaf_cap;
  for (int32_t dir : {1, -1}) {
    set_adt<int32_t> s(u08_desc);
    for (int32_t k = 0; k < 100000; ++k) ASSERT_TRUE(s.ins_key(dir * k, u8_ref));
    EXPECT_TRUE(s.verify());
    EXPECT_EQ(s.leaves(), (100000 + cap - 1) / cap);
  }
}

// Rank, n largest and ranges at every position of trees whose sizes sit
// around the leaf capacity, against std::set; range bounds on and next to
// every leaf edge.
TEST(OrderedTree, RanksAndRangesAtEveryPosition) {
  const uint32_t cap = bt_shape_v<int32_t, bt_no_value>.leaf_cap;
  for (uint32_t n : {0u, 1u, 2u, cap - 1, cap, cap + 1, 2 * cap + 1, 5 * cap}) {
    SCOPED_TRACE(n);
    set_adt<int32_t> s(u08_desc);
    std::set<int32_t> m;
    // Keys 0, 10, 20, ... in a scattered order, so leaves are part full.
    for (uint32_t i = 0; i < n; ++i) {
      const auto k = static_cast<int32_t>(10 * ((i * 7919u) % n));
      ASSERT_TRUE(s.ins_key(k, u8_ref));
      m.insert(k);
    }
    ASSERT_TRUE(s.verify());
    elem_array<int32_t> l;
    for (uint32_t i = 0; i <= n; ++i) {
      uint64_t r = 0;
      if (i < n) {
        ASSERT_TRUE(s.get_rank(static_cast<int32_t>(10 * i), &r));
        ASSERT_EQ(r, i);
      }
      ASSERT_FALSE(s.get_rank(static_cast<int32_t>(10 * i + 5), &r));
      ASSERT_TRUE(s.get_max_n(i, &l));
      ASSERT_EQ(to_vec(l), vi(std::prev(m.end(), i), m.end()));
    }
    // Bounds on and beside each key of a window around every 20th key.
    for (uint32_t i = 0; i < n; i += 20) {
      for (int32_t a = 10 * static_cast<int32_t>(i) - 1; a <= 10 * static_cast<int32_t>(i) + 1; ++a) {
        for (int32_t b : {a + 1, a + 9, a + 10, a + 11, a + 10 * static_cast<int32_t>(cap)}) {
          ASSERT_TRUE(s.get_lt_ge(a, b, &l));
          ASSERT_EQ(to_vec(l), vi(m.lower_bound(a), m.lower_bound(b)));
          ASSERT_TRUE(s.get_le_gt(a, b, &l));
          ASSERT_EQ(to_vec(l), vi(m.upper_bound(a), m.upper_bound(b)));
        }
      }
    }
  }
}

// Runs of equal keys longer than a leaf in the multi kinds: reads, rank,
// values in arrival order, moving and deleting whole runs.
TEST(OrderedTree, EqualRunsAcrossLeaves) {
  multiset_adt<int32_t> s(u08_desc);
  multimap_adt<int32_t, int32_t> m;
  for (int32_t i = 0; i < 700; ++i) {
    const int32_t k = i % 7 == 0 ? 1 + i % 3 : 5;  // 600 fives among others
    ASSERT_TRUE(s.ins_key(k, u8_ref));
    ASSERT_TRUE(m.ins_key(k, value_ref{scalar::i32, &i}));
  }
  elem_array<int32_t> l;
  ASSERT_TRUE(s.get_eq(5, &l));
  EXPECT_EQ(l.size(), 600u);
  uint64_t r = 0;
  ASSERT_TRUE(s.get_rank(5, &r));
  EXPECT_EQ(r, 100u);  // the first five
  ASSERT_TRUE(m.get_value(5, value_list_ref{scalar::i32, &l}));
  vi want;
  for (int32_t i = 0; i < 700; ++i)
    if (i % 7) want.push_back(i);
  EXPECT_EQ(to_vec(l), want);
  ASSERT_TRUE(m.set_eq(5, 2));  // behind the 2s, in order
  ASSERT_TRUE(m.get_value(2, value_list_ref{scalar::i32, &l}));
  ASSERT_EQ(l.size(), 633u);
  EXPECT_EQ(vi(l.begin() + 33, l.end()), want);
  EXPECT_TRUE(m.verify());
  ASSERT_TRUE(s.set_eq(5, 0));
  EXPECT_TRUE(s.del_lt_ge(0, 1));
  EXPECT_EQ(s.size(), 100u);
  EXPECT_TRUE(s.verify());
  EXPECT_TRUE(m.del_eq(2));
  EXPECT_EQ(m.size(), 67u);
  EXPECT_TRUE(m.verify());
}

// ---- the set and multiset tables ----

TEST(OrderedSet, RangeAndRankTable) {
  auto s = make_set<int32_t, false>({40, 10, 30, 20});
  elem_array<int32_t> l;
  struct row {
    bool (adt<int32_t>::*op)(const int32_t&, const int32_t&, elem_array<int32_t>*) const;
    int32_t a, b;
    vi want;
  };
  const row rows[] = {
      {&adt<int32_t>::get_le_ge, 20, 30, {20, 30}}, {&adt<int32_t>::get_lt_ge, 20, 30, {20}},
      {&adt<int32_t>::get_le_gt, 20, 30, {30}},     {&adt<int32_t>::get_lt_gt, 20, 30, {}},
      {&adt<int32_t>::get_le_ge, 30, 20, {}},       {&adt<int32_t>::get_le_ge, 0, 100, {10, 20, 30, 40}},
      {&adt<int32_t>::get_lt_gt, 10, 40, {20, 30}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.a << ".." << r.b);
    ASSERT_TRUE(((*s).*r.op)(r.a, r.b, &l));
    EXPECT_EQ(to_vec(l), r.want);
  }
  uint64_t rank = 0;
  EXPECT_TRUE(s->get_rank(30, &rank));
  EXPECT_EQ(rank, 2u);
  EXPECT_FALSE(s->get_rank(25, &rank));
  ASSERT_TRUE(s->get_max_n(2, &l));
  EXPECT_EQ(to_vec(l), (vi{30, 40}));
  ASSERT_TRUE(s->get_min_n(10, &l));
  EXPECT_EQ(to_vec(l), (vi{10, 20, 30, 40}));
  ASSERT_TRUE(s->get_min_n(0, &l));
  EXPECT_EQ(to_vec(l), vi{});
  ASSERT_TRUE(s->get_gt(20, &l));
  EXPECT_EQ(to_vec(l), (vi{30, 40}));
  ASSERT_TRUE(s->get_le(25, &l));
  EXPECT_EQ(to_vec(l), (vi{10, 20}));
  ASSERT_TRUE(s->get_ge(41, &l));
  EXPECT_EQ(to_vec(l), vi{});
}

TEST(OrderedSet, DeletionResults) {
  auto ms = make_set<int32_t, true>({5, 7, 5, 5});
  elem_array<int32_t> l;
  ASSERT_TRUE(ms->get_eq(5, &l));
  EXPECT_EQ(to_vec(l), (vi{5, 5, 5}));
  EXPECT_TRUE(ms->del_eq(5));
  EXPECT_EQ(all_of(*ms), vi{7});
  EXPECT_FALSE(ms->del_eq(5));
  EXPECT_FALSE(ms->del_gt(7));
  EXPECT_TRUE(ms->del_ge(7));
  EXPECT_FALSE(ms->del_max());
  EXPECT_FALSE(ms->del_min_n(3));

  auto s = make_set<int32_t, false>({1, 2, 3});
  EXPECT_TRUE(s->del_eq(9));  // absent: still true for a set
  EXPECT_TRUE(s->del_gt(9));
  EXPECT_TRUE(s->del_max_n(2));
  EXPECT_EQ(all_of(*s), vi{1});
  EXPECT_FALSE(s->ins_key(1, u8_ref));
  EXPECT_TRUE(s->del_max());
  EXPECT_FALSE(s->del_max());

  set_adt<int32_t> empty(u08_desc);
  int32_t x = 0;
  EXPECT_EQ(all_of(empty), vi{});
  EXPECT_FALSE(empty.get_max(&x));
  EXPECT_FALSE(empty.del_min());
  EXPECT_FALSE(empty.set_max(3));
  EXPECT_EQ(empty.size(), 0u);

  auto m2 = make_set<int32_t, true>({1, 2, 2, 3, 3, 3});
  EXPECT_TRUE(m2->del_max_n(4));
  EXPECT_EQ(all_of(*m2), (vi{1, 2}));
  EXPECT_TRUE(m2->verify());
}

TEST(OrderedSet, ReKeying) {
  struct row {
    const char* what;
    bool multi;
    bool (adt<int32_t>::*op)(const int32_t&, const int32_t&);
    int32_t k, x;
    bool want_ok;
    vi want;
  };
  const row rows[] = {
      {"set eq 2->5", false, &adt<int32_t>::set_eq, 2, 5, true, {1, 3, 5}},
      {"set eq 2->3 (present)", false, &adt<int32_t>::set_eq, 2, 3, true, {1, 2, 3}},
      {"set eq 2->2", false, &adt<int32_t>::set_eq, 2, 2, true, {1, 2, 3}},
      {"set eq absent", false, &adt<int32_t>::set_eq, 7, 5, false, {1, 2, 3}},
      {"set ge selects two", false, &adt<int32_t>::set_ge, 2, 9, false, {1, 2, 3}},
      {"set gt selects one", false, &adt<int32_t>::set_gt, 2, 0, true, {0, 1, 2}},
      {"multiset ge", true, &adt<int32_t>::set_ge, 2, 9, true, {1, 9, 9}},
      {"multiset lt onto present", true, &adt<int32_t>::set_lt, 3, 3, true, {3, 3, 3}},
      {"multiset eq absent", true, &adt<int32_t>::set_eq, 8, 1, true, {1, 2, 3}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    std::unique_ptr<adt<int32_t>> c;
    if (r.multi) c = make_set<int32_t, true>({1, 2, 3});
    else c = make_set<int32_t, false>({1, 2, 3});
    EXPECT_EQ(((*c).*r.op)(r.k, r.x), r.want_ok);
    EXPECT_EQ(all_of(*c), r.want);
  }
  auto s = make_set<int32_t, false>({10, 20, 30, 40});
  EXPECT_TRUE(s->set_lt_gt(10, 30, 25));
  EXPECT_EQ(all_of(*s), (vi{10, 25, 30, 40}));
  EXPECT_TRUE(s->set_max(5));
  EXPECT_EQ(all_of(*s), (vi{5, 10, 25, 30}));
  EXPECT_TRUE(s->set_min(30));  // present: unchanged, still true
  EXPECT_EQ(all_of(*s), (vi{5, 10, 25, 30}));
  EXPECT_FALSE(s->set_min_n(2, 99));
  EXPECT_TRUE(s->set_max_n(1, 99));
  EXPECT_EQ(all_of(*s), (vi{5, 10, 25, 99}));
  EXPECT_TRUE(s->verify());
}

TEST(OrderedSet, InsKeyNeedsU08Value) {
  ordered_set_adt<int32_t, false> s(scalar_traits<int32_t>::desc);
  const int32_t v = 0;
  EXPECT_FALSE(s.ins_key(1, u8_ref));
  EXPECT_FALSE(s.ins_key(1, value_ref{scalar::i32, &v}));
  set_adt<int32_t> t(u08_desc);
  EXPECT_FALSE(t.ins_key(1, value_ref{scalar::i32, &v}));
  EXPECT_TRUE(t.ins_key(1, u8_ref));
}

// ---- key orders of the other types ----

TEST(OrderedKeys, StringsOrderBytesAsSigned) {
  auto s = make_set<xstring, false>({xstring("b"), xstring("A"), xstring("ab"), xstring("\xC3\xA9"), xstring("a"),
                                     xstring("")});
  const std::vector<xstring> want = {xstring(""), xstring("\xC3\xA9"), xstring("A"), xstring("a"), xstring("ab"),
                                     xstring("b")};
  EXPECT_EQ(all_of(*s), want);
  EXPECT_FALSE(s->ins_key(xstring("ab"), u8_ref));
  uint64_t r = 0;
  EXPECT_TRUE(s->get_rank(xstring("A"), &r));
  EXPECT_EQ(r, 2u);
  EXPECT_TRUE(s->verify());
}

TEST(OrderedKeys, FloatZerosAreOneKeyAndNaNIsRefused) {
  auto s = make_set<double, false>({-0.0, 1.5, -2.0});
  EXPECT_FALSE(s->ins_key(0.0, u8_ref));
  const double nan = std::nan("");
  EXPECT_FALSE(s->ins_key(nan, u8_ref));
  EXPECT_FALSE(s->set_eq(1.5, nan));
  EXPECT_EQ(all_of(*s), (std::vector<double>{-2.0, -0.0, 1.5}));
  elem_array<double> l;
  EXPECT_TRUE(s->get_eq(nan, &l));
  EXPECT_TRUE(l.empty());
  EXPECT_TRUE(s->get_ge(0.0, &l));
  EXPECT_EQ(to_vec(l), (std::vector<double>{-0.0, 1.5}));
  uint64_t r = 0;
  EXPECT_FALSE(s->get_rank(nan, &r));

  multimap_adt<float, int32_t> m;
  const int32_t v = 1;
  EXPECT_FALSE(m.ins_key(std::nanf(""), value_ref{scalar::i32, &v}));
  EXPECT_TRUE(m.ins_key(0.0f, value_ref{scalar::i32, &v}));
  EXPECT_TRUE(m.ins_key(-0.0f, value_ref{scalar::i32, &v}));
  elem_array<float> keys;
  EXPECT_TRUE(m.get_eq(0.0f, &keys));
  EXPECT_EQ(keys.size(), 2u);
}

TEST(OrderedKeys, CalendarKeys) {
  auto d = make_set<date, false>({date{2021, 1, 1}, date{2020, 12, 31}, date{2020, 2, 29}});
  const auto dv = all_of(*d);
  ASSERT_EQ(dv.size(), 3u);
  EXPECT_TRUE(equal(dv[0], date{2020, 2, 29}) && equal(dv[2], date{2021, 1, 1}));
  auto t = make_set<time, true>({time{10, 0, 0, 5}, time{9, 59, 59, 0}, time{10, 0, 0, 1}, time{10, 0, 0, 5}});
  const auto tv = all_of(*t);
  ASSERT_EQ(tv.size(), 4u);
  EXPECT_EQ(tv[0].hour, 9);
  EXPECT_EQ(uint32_t{tv[1].nanosecond}, 1u);  // a copy: the record is packed
  EXPECT_TRUE(equal(tv[2], tv[3]));
  auto dt = make_set<date_time, false>({date_time{2020, 1, 1, 0, 0, 1, 0}, date_time{2019, 12, 31, 23, 59, 59, 9},
                                        date_time{2020, 1, 1, 0, 0, 0, 7}});
  const auto dtv = all_of(*dt);
  ASSERT_EQ(dtv.size(), 3u);
  EXPECT_EQ(uint16_t{dtv[0].year}, 2019);
  EXPECT_EQ(uint32_t{dtv[1].nanosecond}, 7u);
  EXPECT_TRUE(dt->verify());
}

// ---- maps ----

TEST(OrderedMap, MultimapKeepsArrivalOrder) {
  multimap_adt<int32_t, xstring> m;
  const xstring a("a"), b("b"), c("c"), z("z");
  for (const xstring* v : {&a, &b, &c}) ASSERT_TRUE(m.ins_key(7, value_ref{scalar::string, v}));
  ASSERT_TRUE(m.ins_key(3, value_ref{scalar::string, &z}));
  elem_array<xstring> vals;
  ASSERT_TRUE(m.get_value(7, value_list_ref{scalar::string, &vals}));
  EXPECT_EQ(to_vec(vals), (std::vector<xstring>{a, b, c}));
  EXPECT_TRUE(m.del_max());  // the last entry: (7, c)
  ASSERT_TRUE(m.get_value(7, value_list_ref{scalar::string, &vals}));
  EXPECT_EQ(to_vec(vals), (std::vector<xstring>{a, b}));
  EXPECT_TRUE(m.set_eq(3, 7));  // moves behind the existing 7s
  ASSERT_TRUE(m.get_value(7, value_list_ref{scalar::string, &vals}));
  EXPECT_EQ(to_vec(vals), (std::vector<xstring>{a, b, z}));
  EXPECT_TRUE(m.del_min());
  ASSERT_TRUE(m.get_value(7, value_list_ref{scalar::string, &vals}));
  EXPECT_EQ(to_vec(vals), (std::vector<xstring>{b, z}));
  EXPECT_TRUE(m.set_value(7, value_ref{scalar::string, &c}));
  ASSERT_TRUE(m.get_value(7, value_list_ref{scalar::string, &vals}));
  EXPECT_EQ(to_vec(vals), (std::vector<xstring>{c, c}));
  EXPECT_TRUE(m.set_eq(7, 7));
  EXPECT_FALSE(m.set_eq(8, 7));
  elem_array<int32_t> keys;
  EXPECT_TRUE(m.get_eq(8, &keys));  // a multimap answers true with nothing
  EXPECT_TRUE(keys.empty());
  EXPECT_TRUE(m.verify());
}

TEST(OrderedMap, MapRules) {
  map_adt<int32_t, int32_t> m;
  const int32_t one = 1, two = 2;
  const int64_t wide = 5;
  elem_array<int32_t> keys;
  int32_t k = 0;
  EXPECT_FALSE(m.get_max(&k));
  EXPECT_FALSE(m.set_min(1));
  EXPECT_FALSE(m.get_eq(1, &keys));
  EXPECT_TRUE(m.get_all(&keys));
  EXPECT_FALSE(m.ins_key(1, value_ref{scalar::i64, &wide}));  // not the map's value type
  ASSERT_TRUE(m.ins_key(1, value_ref{scalar::i32, &one}));
  ASSERT_TRUE(m.ins_key(2, value_ref{scalar::i32, &two}));
  EXPECT_FALSE(m.ins_key(1, value_ref{scalar::i32, &two}));  // present: value kept
  elem_array<int32_t> vals;
  elem_array<int64_t> wrong;
  EXPECT_FALSE(m.get_value(1, value_list_ref{scalar::i64, &wrong}));
  ASSERT_TRUE(m.get_value(1, value_list_ref{scalar::i32, &vals}));
  EXPECT_EQ(to_vec(vals), vi{1});
  EXPECT_FALSE(m.set_eq(1, 2));  // another entry's key: both stay
  ASSERT_TRUE(m.get_value(2, value_list_ref{scalar::i32, &vals}));
  EXPECT_EQ(to_vec(vals), vi{2});
  EXPECT_TRUE(m.set_eq(1, 1));
  EXPECT_TRUE(m.set_max(9));
  EXPECT_EQ(all_of(m), (vi{1, 9}));
  ASSERT_TRUE(m.get_value(9, value_list_ref{scalar::i32, &vals}));
  EXPECT_EQ(to_vec(vals), vi{2});
  EXPECT_FALSE(m.set_value(5, value_ref{scalar::i32, &one}));
  EXPECT_FALSE(m.del_eq(5));
  EXPECT_TRUE(m.verify());
}

// ---- commands ----

class OrderedCommands : public testing::Test {
 protected:
  bool run(const std::string& line) {
    out_ = datas{};
    return exec_cmd(s_, line.data(), static_cast<int64_t>(line.size()), &out_);
  }
  vi ints() const {
    vi v;
    if (out_.cols.empty()) return v;
    for (const datas_cell& c : out_.cols[0].cells) {
      int32_t x;
      std::memcpy(&x, c.value, 4);
      v.push_back(x);
    }
    return v;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> v;
    if (out_.cols.empty()) return v;
    for (const datas_cell& c : out_.cols[0].cells) v.emplace_back(c.text());
    return v;
  }
  store s_;
  datas out_;
};

TEST_F(OrderedCommands, SetWords) {
  ASSERT_TRUE(run("c set i32 s"));
  for (const char* k : {"7", "3", "1", "5"}) ASSERT_TRUE(run(std::string("i 0 ") + k));
  EXPECT_FALSE(run("i 0 5"));
  struct row {
    const char* line;
    vi want;
  };
  const row rows[] = {
      {"g 0 ltge 3 7", {3, 5}}, {"g 0 lege 3 7", {3, 5, 7}}, {"g 0 all", {1, 3, 5, 7}}, {"g 0 gt 3", {5, 7}},
      {"g 0 max_n 3", {3, 5, 7}}, {"g 0 min", {1}},           {"g 0 equal 4", {}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.line);
    ASSERT_TRUE(run(r.line));
    EXPECT_EQ(ints(), r.want);
  }
  ASSERT_TRUE(run("g 0 rank 5"));
  ASSERT_EQ(out_.cols.size(), 1u);
  uint64_t rank;
  std::memcpy(&rank, out_.cols[0].cells[0].value, 8);
  EXPECT_EQ(rank, 2u);
  ASSERT_TRUE(run("d 0 ltgt 3 7"));
  ASSERT_TRUE(run("g 0 all"));
  EXPECT_EQ(ints(), (vi{1, 3, 7}));
  ASSERT_TRUE(run("s 0 equal 3 4"));
  ASSERT_TRUE(run("g 0 all"));
  EXPECT_EQ(ints(), (vi{1, 4, 7}));
  EXPECT_FALSE(run("s 0 ge 2 9"));
  EXPECT_TRUE(run("d 0 min"));
  ASSERT_TRUE(run("g 0 all"));
  EXPECT_EQ(ints(), (vi{4, 7}));
}

TEST_F(OrderedCommands, MapWordsAndDumpRoundTrip) {
  ASSERT_TRUE(run("c multimap i32 string mm"));
  ASSERT_TRUE(run("c map string i32 m"));
  ASSERT_TRUE(run("i 0 7 \"a\""));
  ASSERT_TRUE(run("i 0 7 \"b\""));
  ASSERT_TRUE(run("i 0 2 \"c\""));
  ASSERT_TRUE(run("i 1 \"x\" 1"));
  EXPECT_FALSE(run("i 1 \"x\" 2"));
  ASSERT_TRUE(run("g 0 value 7"));
  EXPECT_EQ(texts(), (std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE(run("g 0 equal 7"));
  EXPECT_EQ(ints(), (vi{7, 7}));
  ASSERT_TRUE(run("s 0 value 7 \"q\""));
  ASSERT_TRUE(run("g 0 value 7"));
  EXPECT_EQ(texts(), (std::vector<std::string>{"q", "q"}));
  ASSERT_TRUE(run("s 0 max 1"));  // the last entry, (7, q), moves to key 1
  ASSERT_TRUE(run("g 0 all"));
  EXPECT_EQ(ints(), (vi{1, 2, 7}));
  ASSERT_TRUE(run("s \"m\" equal \"x\" \"y\""));
  ASSERT_TRUE(run("g \"m\" value \"y\""));
  EXPECT_EQ(ints(), vi{1});
  EXPECT_TRUE(run("d 0 equal 7"));
  EXPECT_FALSE(run("d 0 equal 7"));
  ASSERT_TRUE(run("g \"mm\" all"));
  EXPECT_EQ(ints(), (vi{1, 2}));
}

// save writes the body in ascending order; load rebuilds the same contents
// (a set drops repeated keys, as insertion does).
template <class C>
void round_trip(const C& from, C* to) {
  char path[] = "/tmp/ordered_dump_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::remove(path);
  {
    dump_out out(fd);
    ASSERT_TRUE(from.save(out));
    ASSERT_TRUE(out.flush());
  }
  const off_t size = lseek(fd, 0, SEEK_CUR);
  lseek(fd, 0, SEEK_SET);
  {
    dump_in in(fd, static_cast<uint64_t>(size));
    xstring kind_word;
    type_desc kd, vd;
    ASSERT_TRUE(in.get_text(&kind_word));
    ASSERT_EQ(kind_word.view(), from.kind_name());
    ASSERT_TRUE(in.get_desc(&kd) && in.get_desc(&vd));
    EXPECT_EQ(kd, from.key_desc());
    EXPECT_EQ(vd, from.val_desc());
    ASSERT_TRUE(to->load(in));
    EXPECT_EQ(in.remaining(), 0u);
  }
  close(fd);
}

TEST(OrderedPersist, SaveLoadRoundTrip) {
  multimap_adt<xstring, int32_t> mm, mm2;
  int32_t v = 0;
  for (const char* k : {"b", "a", "b", "\xC3", "a", "b"}) {
    ++v;
    ASSERT_TRUE(mm.ins_key(xstring(k), value_ref{scalar::i32, &v}));
  }
  round_trip(mm, &mm2);
  EXPECT_EQ(all_of(mm2), all_of(mm));
  elem_array<int32_t> vals;
  ASSERT_TRUE(mm2.get_value(xstring("b"), value_list_ref{scalar::i32, &vals}));
  EXPECT_EQ(to_vec(vals), (vi{1, 3, 6}));
  EXPECT_TRUE(mm2.verify());

  auto ms = make_set<int32_t, true>({3, 1, 3, 2});
  multiset_adt<int32_t> ms2(u08_desc);
  round_trip(*ms, &ms2);
  EXPECT_EQ(all_of(ms2), (vi{1, 2, 3, 3}));
}

TEST_F(OrderedCommands, NameDirectory) {
  // Enough names for three levels in the directory, then erased and made
  // again in scattered orders: a separator that showed an erased name
  // would be read after its container is gone (AddressSanitizer).
  constexpr int n = 1200;
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back("n" + std::to_string((i * 37) % n));
  for (const auto& name : names) ASSERT_TRUE(run("c set i32 " + name));
  EXPECT_FALSE(run("c set i32 " + names[6]));  // names stay unique
  std::mt19937 rng(3);
  std::vector<bool> live(n, true);
  for (int round = 0; round < 3 * n; ++round) {
    const auto i = static_cast<size_t>(rng() % n);
    ASSERT_TRUE(run(live[i] ? "e \"" + names[i] + "\"" : "c set i32 " + names[i]));
    live[i] = !live[i];
    if (round % 100 == 0) {
      for (int j = 0; j < n; ++j) {
        uint64_t v = 0;
        ASSERT_EQ(s_.find_name(names[j], &v), live[j]) << names[j];
        if (live[j]) {
          ASSERT_EQ(s_.at(v)->name().view(), names[j]);
        }
      }
    }
  }
}

}  // namespace
}  // namespace nosql_db
