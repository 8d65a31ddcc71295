// Edge cases of the sequence kinds (list, deque, queue, stack) and the heap,
// called directly through the container interface.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "containers/deque.h"
#include "containers/heap.h"
#include "containers/list.h"
#include "containers/queue.h"
#include "containers/stack.h"

namespace nosql_db {
namespace {

using vec = std::vector<int64_t>;

template <class K>
std::vector<K> all_of(const adt<K>& c) {
  elem_array<K> l;
  EXPECT_TRUE(c.get_all(&l));
  return std::vector<K>(l.begin(), l.end());
}
std::vector<std::string> all_text(const adt<xstring>& c) {
  std::vector<std::string> r;
  for (const auto& s : all_of(c)) r.emplace_back(s.view());
  return r;
}
template <class K>
void fill(adt<K>& c, const std::vector<K>& xs) {
  for (const K& x : xs) ASSERT_TRUE(c.ins_last(x));
}

// ---- empty containers -----------------------------------------------------

TEST(SequenceKinds, EmptyContainersCountZeroAndListNothing) {
  for (kind k : {kind::list, kind::deque, kind::queue, kind::stack, kind::heap}) {
    SCOPED_TRACE(std::string(kind_word(k)));
    auto c = make_container(k, scalar::i64, scalar::u08, 0);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind_id(), k);
    EXPECT_EQ(c->val_desc(), u08_desc);
    auto& a = static_cast<adt<int64_t>&>(*c);
    uint64_t n = 99;
    EXPECT_TRUE(a.get_count(&n));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(all_of(a).empty());
    int64_t x;
    EXPECT_FALSE(a.get_last(&x));
  }
}

// ---- deque ----------------------------------------------------------------

TEST(DequeKind, FrontInsertionsReverseAndPositionsFollow) {
  deque_adt<int64_t> d;
  for (int64_t x : {1, 2, 3}) d.ins_first(x);
  EXPECT_EQ(all_of(d), (vec{3, 2, 1}));
  d.ins_last(4);
  int64_t v = 0;
  ASSERT_TRUE(d.get_nth(4, &v));
  EXPECT_EQ(v, 4);
  EXPECT_FALSE(d.get_nth(5, &v));
  EXPECT_FALSE(d.get_nth(0, &v));
}

TEST(DequeKind, OriginFollowsEndRemovals) {
  struct step {
    const char* what;
    std::function<void(deque_adt<int64_t>&)> run;
    vec contents;
    int64_t origin;
    uint64_t front, back;
  };
  const step cases[] = {
      {"front removals consume back slots",
       [](auto& d) {
         for (int64_t x : {1, 2, 3}) d.ins_last(x);
         d.del_first();
         d.del_first();
       },
       {3}, 2, 0, 1},
      {"front insertion reuses a consumed back slot",
       [](auto& d) {
         for (int64_t x : {1, 2, 3}) d.ins_last(x);
         d.del_first();
         d.del_first();
         d.ins_first(9);
       },
       {9, 3}, 1, 0, 2},
      {"back removal consumes a front slot",
       [](auto& d) {
         d.ins_first(1);
         d.ins_first(2);
         d.del_last();
       },
       {2}, -1, 1, 0},
      {"back insertion reuses front slot 0",
       [](auto& d) {
         d.ins_first(1);
         d.ins_first(2);
         d.del_last();
         d.ins_last(7);
       },
       {2, 7}, 0, 2, 0},
      {"emptying resets origin",
       [](auto& d) {
         for (int64_t x : {1, 2, 3}) d.ins_last(x);
         d.del_first_n(2);
         d.del_last();
       },
       {}, 0, 0, 0},
      {"mixed ends",
       [](auto& d) {
         for (int64_t x : {1, 2, 3}) d.ins_last(x);
         for (int64_t x : {4, 5}) d.ins_first(x);
         d.del_last_n(4);
         d.ins_last(6);
         d.del_first();
         d.ins_first(7);
       },
       {7, 6}, 0, 2, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    deque_adt<int64_t> d;
    c.run(d);
    EXPECT_EQ(all_of(d), c.contents);
    const auto l = d.inspect();
    EXPECT_EQ(l.origin, c.origin);
    EXPECT_EQ(l.front_count, c.front);
    EXPECT_EQ(l.back_count, c.back);
  }
}

TEST(DequeKind, InsertAtZeroBasedIndex) {
  struct row {
    uint64_t i;
    int64_t x;
    bool ok;
    vec after;
  };
  const row rows[] = {
      {1, 15, true, {10, 15, 20, 30, 40, 50}},  // front side moves
      {4, 45, true, {10, 20, 30, 40, 45, 50}},  // back side moves
      {5, 60, true, {10, 20, 30, 40, 50, 60}},  // appends
      {0, 5, true, {5, 10, 20, 30, 40, 50}},
      {2, 25, true, {10, 20, 25, 30, 40, 50}},
      {6, 1, false, {10, 20, 30, 40, 50}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.i);
    deque_adt<int64_t> d;
    fill<int64_t>(d, {10, 20, 30, 40, 50});
    EXPECT_EQ(d.ins_nth(r.i, r.x), r.ok);
    EXPECT_EQ(all_of(d), r.after);
  }
  deque_adt<int64_t> empty;
  EXPECT_FALSE(empty.ins_nth(1, 3));
  EXPECT_TRUE(empty.ins_nth(0, 3));
  EXPECT_EQ(all_of(empty), (vec{3}));
}

TEST(DequeKind, InsertInMiddleWithConsumedSlots) {
  // Front path while origin > 0, back path while origin < 0.
  deque_adt<int64_t> d;
  fill<int64_t>(d, {1, 2, 3, 4, 5, 6});
  d.del_first_n(2);
  ASSERT_TRUE(d.ins_nth(1, 9));
  EXPECT_EQ(all_of(d), (vec{3, 9, 4, 5, 6}));
  deque_adt<int64_t> e;
  for (int64_t x : {6, 5, 4, 3, 2, 1}) e.ins_first(x);
  e.del_last_n(2);
  ASSERT_TRUE(e.ins_nth(3, 9));
  EXPECT_EQ(all_of(e), (vec{1, 2, 3, 9, 4}));
}

TEST(DequeKind, BlocksAndTableGrowth) {
  deque_adt<int32_t> d;
  for (int32_t i = 0; i < 1025; ++i) d.ins_last(i);
  EXPECT_EQ(d.inspect().table_length, 16u);
  EXPECT_TRUE(d.has_block(0));
  EXPECT_TRUE(d.has_block(2));
  EXPECT_FALSE(d.has_block(1));
  int32_t v;
  ASSERT_TRUE(d.get_nth(1025, &v));
  EXPECT_EQ(v, 1024);
  // Front block 8 needs entry 17: one more 16-entry step.
  for (int32_t i = 0; i < 8 * 1024 + 1; ++i) d.ins_first(-i);
  EXPECT_EQ(d.inspect().table_length, 32u);
  EXPECT_TRUE(d.has_block(17));
  ASSERT_TRUE(d.get_nth(1, &v));
  EXPECT_EQ(v, -8 * 1024);
  // del_all keeps the blocks and refills from slot 0.
  d.del_all();
  EXPECT_TRUE(d.has_block(17));
  d.ins_last(5);
  EXPECT_EQ(all_of(d), (std::vector<int32_t>{5}));
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

TEST(DequeKind, RefusalsAndPermissiveEnds) {
  deque_adt<int64_t> d;
  EXPECT_TRUE(d.del_first());
  EXPECT_TRUE(d.del_last());
  EXPECT_TRUE(d.del_first_n(0));
  EXPECT_TRUE(d.del_last_n(7));
  EXPECT_FALSE(d.set_all(1));
  EXPECT_FALSE(d.set_first(1));
  EXPECT_FALSE(d.set_first_n(0, 1));
  EXPECT_TRUE(d.set_first_n(3, 1));
  elem_array<int64_t> l;
  EXPECT_TRUE(d.get_first_n(2, &l));
  EXPECT_EQ(l.size(), 0u);
  EXPECT_FALSE(d.get_range(1, 1, &l));
  EXPECT_FALSE(d.del_nth(1));  // not a deque operation

  fill<int64_t>(d, {10, 20, 30});
  struct range_row {
    uint64_t from, to;
    bool ok;
    vec got;
  };
  for (const auto& r : {range_row{2, 100, true, {20, 30}}, range_row{4, 5, false, {}},
                        range_row{3, 2, false, {}}, range_row{0, 2, false, {}}, range_row{1, 1, true, {10}}}) {
    SCOPED_TRACE(r.from * 1000 + r.to);
    elem_array<int64_t> out;
    EXPECT_EQ(d.get_range(r.from, r.to, &out), r.ok);
    EXPECT_EQ(vec(out.begin(), out.end()), r.got);
  }
  EXPECT_TRUE(d.set_range(2, 9, 7));
  EXPECT_TRUE(d.set_last_n(1, 8));
  EXPECT_EQ(all_of(d), (vec{10, 7, 8}));
  uint64_t i;
  EXPECT_TRUE(d.get_index(7, &i));
  EXPECT_EQ(i, 1u);
  EXPECT_FALSE(d.get_index(99, &i));
}

TEST(DequeKind, StringsSurviveShiftsAndReuse) {
  deque_adt<xstring> d;
  for (const char* s : {"b", "c", "d"}) d.ins_last(xstring(std::string_view(s)));
  d.ins_first(xstring(std::string_view("a")));
  d.ins_nth(2, xstring(std::string_view("bc")));
  EXPECT_EQ(all_text(d), (std::vector<std::string>{"a", "b", "bc", "c", "d"}));
  d.del_first_n(3);
  d.ins_first(xstring(std::string_view("z")));
  EXPECT_EQ(all_text(d), (std::vector<std::string>{"z", "c", "d"}));
}

// ---- list -----------------------------------------------------------------

TEST(ListKind, InsertNthPlacement) {
  struct row {
    uint64_t p;
    bool ok;
    vec after;
  };
  for (const auto& r : {row{1, true, {5, 10, 20, 30}}, row{2, true, {10, 5, 20, 30}}, row{3, true, {10, 20, 30, 5}},
                        row{4, true, {10, 20, 30, 5}}, row{5, false, {10, 20, 30}}, row{0, false, {10, 20, 30}}}) {
    SCOPED_TRACE(r.p);
    list_adt<int64_t> l;
    fill<int64_t>(l, {10, 20, 30});
    EXPECT_EQ(l.ins_nth(r.p, 5), r.ok);
    EXPECT_EQ(all_of(l), r.after);
  }
}

TEST(ListKind, EmptyListEdges) {
  list_adt<int64_t> l;
  int64_t v;
  elem_array<int64_t> out;
  EXPECT_FALSE(l.get_first(&v));
  EXPECT_TRUE(l.del_first_n(3));
  EXPECT_FALSE(l.del_first_n(0));
  EXPECT_TRUE(l.del_last_n(3));
  EXPECT_FALSE(l.get_range(1, 1, &out));
  EXPECT_FALSE(l.del_first());
  EXPECT_FALSE(l.ins_nth(2, 7));
  EXPECT_TRUE(l.ins_nth(1, 7));
  EXPECT_EQ(all_of(l), (vec{7}));
}

TEST(ListKind, RangesAndCounts) {
  struct row {
    const char* what;
    std::function<bool(list_adt<int64_t>&)> run;
    bool ok;
    vec after;
  };
  const row rows[] = {
      {"del_range to past end", [](auto& l) { return l.del_range(2, 100); }, true, {1}},
      {"del_range middle", [](auto& l) { return l.del_range(2, 3); }, true, {1, 4, 5}},
      {"del_range reversed", [](auto& l) { return l.del_range(3, 2); }, false, {1, 2, 3, 4, 5}},
      {"del_range from past end", [](auto& l) { return l.del_range(6, 7); }, false, {1, 2, 3, 4, 5}},
      {"del_first_n", [](auto& l) { return l.del_first_n(2); }, true, {3, 4, 5}},
      {"del_first_n all", [](auto& l) { return l.del_first_n(9); }, true, {}},
      {"del_last_n", [](auto& l) { return l.del_last_n(2); }, true, {1, 2, 3}},
      {"del_nth last", [](auto& l) { return l.del_nth(5); }, true, {1, 2, 3, 4}},
      {"del_nth past", [](auto& l) { return l.del_nth(6); }, false, {1, 2, 3, 4, 5}},
      {"set_range", [](auto& l) { return l.set_range(4, 9, 0); }, true, {1, 2, 3, 0, 0}},
      {"set_first_n", [](auto& l) { return l.set_first_n(2, 0); }, true, {0, 0, 3, 4, 5}},
      {"set_last_n", [](auto& l) { return l.set_last_n(9, 0); }, true, {0, 0, 0, 0, 0}},
      {"set_nth", [](auto& l) { return l.set_nth(3, 0); }, true, {1, 2, 0, 4, 5}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    list_adt<int64_t> l;
    fill<int64_t>(l, {1, 2, 3, 4, 5});
    EXPECT_EQ(r.run(l), r.ok);
    EXPECT_EQ(all_of(l), r.after);
    EXPECT_EQ(l.size(), r.after.size());
  }
  list_adt<int64_t> l;
  fill<int64_t>(l, {10, 20, 30});
  elem_array<int64_t> out;
  ASSERT_TRUE(l.get_last_n(2, &out));
  EXPECT_EQ(vec(out.begin(), out.end()), (vec{20, 30}));
  ASSERT_TRUE(l.get_range(2, 2, &out));
  EXPECT_EQ(vec(out.begin(), out.end()), (vec{20}));
}

TEST(ListKind, HandlesWalkTheChain) {
  list_adt<int64_t> l;
  fill<int64_t>(l, {10, 20, 20});
  uint64_t h2, h3, h, none = 7;
  ASSERT_TRUE(l.get_pos(20, &h2));
  ASSERT_TRUE(l.get_next_pos(h2, &h3));
  EXPECT_NE(h3, 0u);
  EXPECT_NE(h3, h2);
  ASSERT_TRUE(l.get_next_pos(h3, &none));
  EXPECT_EQ(none, 0u);
  ASSERT_TRUE(l.get_prev_pos(h2, &h));
  int64_t v;
  ASSERT_TRUE(l.get_at_pos(h, &v));
  EXPECT_EQ(v, 10);
  ASSERT_TRUE(l.get_prev_pos(h, &none));
  EXPECT_EQ(none, 0u);
  EXPECT_FALSE(l.get_pos(99, &h));

  // Handle 0.
  EXPECT_TRUE(l.get_next_pos(0, &h));
  EXPECT_EQ(h, 0u);
  EXPECT_TRUE(l.get_prev_pos(0, &h));
  EXPECT_EQ(h, 0u);
  EXPECT_FALSE(l.get_at_pos(0, &v));
  EXPECT_FALSE(l.set_at_pos(0, 1));
  EXPECT_TRUE(l.del_at_pos(0));
  EXPECT_EQ(all_of(l), (vec{10, 20, 20}));
  EXPECT_TRUE(l.ins_at_pos(0, 40));
  EXPECT_EQ(all_of(l), (vec{10, 20, 20, 40}));

  // Insert before the head makes a new head; set and delete by handle.
  uint64_t head;
  ASSERT_TRUE(l.get_pos(10, &head));
  EXPECT_TRUE(l.ins_at_pos(head, 5));
  EXPECT_TRUE(l.set_at_pos(h3, 25));
  EXPECT_TRUE(l.del_at_pos(h2));
  EXPECT_EQ(all_of(l), (vec{5, 10, 25, 40}));
}

TEST(ListKind, HandlesSurviveOtherRemovalsAndDieWithTheirNode) {
  list_adt<int64_t> l;
  fill<int64_t>(l, {10, 20, 30, 40});
  uint64_t h30, h40;
  ASSERT_TRUE(l.get_pos(30, &h30));
  ASSERT_TRUE(l.get_pos(40, &h40));
  l.del_first();
  l.del_nth(1);
  l.ins_first(1);
  int64_t v;
  ASSERT_TRUE(l.get_at_pos(h30, &v));
  EXPECT_EQ(v, 30);
  uint64_t prev;
  ASSERT_TRUE(l.get_prev_pos(h30, &prev));
  ASSERT_TRUE(l.get_at_pos(prev, &v));
  EXPECT_EQ(v, 1);

  ASSERT_TRUE(l.del_at_pos(h30));
  // The freed table entry is reused by the next insertion; the old handle
  // must still be refused.
  l.ins_last(99);
  uint64_t h99;
  ASSERT_TRUE(l.get_pos(99, &h99));
  EXPECT_NE(h99, h30);
  EXPECT_EQ(l.handle_table_size(), 4u);
  const std::function<bool(uint64_t)> refusals[] = {
      [&](uint64_t h) { return l.get_at_pos(h, &v); },
      [&](uint64_t h) { return l.set_at_pos(h, 5); },
      [&](uint64_t h) { return l.del_at_pos(h); },
      [&](uint64_t h) { return l.ins_at_pos(h, 5); },
      [&](uint64_t h) { return l.get_next_pos(h, &prev); },
      [&](uint64_t h) { return l.get_prev_pos(h, &prev); },
  };
  const vec before = all_of(l);
  for (uint64_t bad : {h30, uint64_t{1} << 32 | 1, uint64_t{12345}, ~uint64_t{0}, h40 ^ (uint64_t{1} << 40)}) {
    SCOPED_TRACE(bad);
    for (const auto& f : refusals) EXPECT_FALSE(f(bad));
  }
  EXPECT_EQ(all_of(l), before);

  // del_all retires every handle.
  l.del_all();
  EXPECT_FALSE(l.get_at_pos(h40, &v));
  l.ins_last(40);
  EXPECT_FALSE(l.get_at_pos(h40, &v));
}

TEST(ListKind, HandlesOfAnotherListAreRefused) {
  list_adt<int64_t> a, b;
  fill<int64_t>(a, {1, 2, 3});
  fill<int64_t>(b, {1, 2, 3});
  for (int64_t x : {1, 2, 3}) {
    uint64_t hb, ha;
    ASSERT_TRUE(b.get_pos(x, &hb));
    ASSERT_TRUE(a.get_pos(x, &ha));
    EXPECT_NE(ha, hb);
    int64_t v;
    EXPECT_FALSE(a.get_at_pos(hb, &v));
    EXPECT_FALSE(a.del_at_pos(hb));
  }
  EXPECT_EQ(all_of(a), (vec{1, 2, 3}));
}

// ---- queue and stack ------------------------------------------------------

TEST(QueueKind, FirstInFirstOut) {
  queue_adt<int64_t> q;
  int64_t v;
  EXPECT_FALSE(q.del_first());
  EXPECT_TRUE(q.set_all(4));
  fill<int64_t>(q, {1, 2, 3});
  ASSERT_TRUE(q.get_first(&v));
  EXPECT_EQ(v, 1);
  ASSERT_TRUE(q.del_first());
  ASSERT_TRUE(q.get_first(&v));
  EXPECT_EQ(v, 2);
  ASSERT_TRUE(q.get_last(&v));
  EXPECT_EQ(v, 3);
  uint64_t i;
  ASSERT_TRUE(q.get_index(3, &i));
  EXPECT_EQ(i, 1u);
  EXPECT_FALSE(q.ins_first(0));
  EXPECT_FALSE(q.del_last());
  EXPECT_TRUE(q.set_last(9));
  EXPECT_EQ(all_of(q), (vec{2, 9}));
  EXPECT_TRUE(q.del_all());
  EXPECT_FALSE(q.get_first(&v));
}

TEST(StackKind, LastInFirstOut) {
  stack_adt<int64_t> s;
  int64_t v;
  EXPECT_FALSE(s.del_last());
  fill<int64_t>(s, {1, 2, 3});
  ASSERT_TRUE(s.get_last(&v));
  EXPECT_EQ(v, 3);
  EXPECT_EQ(all_of(s), (vec{1, 2, 3}));
  s.del_last();
  s.del_last();
  ASSERT_TRUE(s.get_last(&v));
  EXPECT_EQ(v, 1);
  EXPECT_FALSE(s.get_first(&v));
  EXPECT_FALSE(s.del_first());
  EXPECT_TRUE(s.set_last(5));
  EXPECT_EQ(all_of(s), (vec{5}));
}

// ---- heap -----------------------------------------------------------------

TEST(HeapKind, StorageOrderFollowsTheSiftRules) {
  const value_ref u8{scalar::u08, &u08_desc};  // any u08 value; it is ignored
  struct row {
    const char* what;
    vec pushes;
    std::function<void(heap_adt<int64_t>&)> then;
    vec storage;
  };
  const row rows[] = {
      {"push", {5, 3, 8, 1}, [](auto&) {}, {1, 3, 8, 5}},
      {"push then pop", {5, 3, 8, 1}, [](auto& h) { h.del_min(); }, {3, 5, 8}},
      {"equal elements stay put", {2, 2, 2}, [](auto& h) { h.del_min(); }, {2, 2}},
      {"replace top", {1, 4, 2}, [](auto& h) { h.set_min(9); }, {2, 4, 9}},
      {"ties go right", {1, 3, 3, 5, 6, 7, 8}, [](auto& h) { h.del_min(); }, {3, 3, 7, 5, 6, 8}},
      {"only a left child", {1, 2, 3, 4}, [](auto& h) { h.del_min(); }, {2, 4, 3}},
      {"pop to empty", {7}, [](auto& h) { h.del_min(); }, {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    heap_adt<int64_t> h;
    for (int64_t x : r.pushes) ASSERT_TRUE(h.ins_key(x, u8));
    r.then(h);
    EXPECT_EQ(all_of(h), r.storage);
  }
}

TEST(HeapKind, OrderingPerType) {
  const uint8_t zero = 0;
  const value_ref u8{scalar::u08, &zero};
  heap_adt<xstring> s;
  for (const char* t : {"b", "a", "ab"}) s.ins_key(xstring(std::string_view(t)), u8);
  xstring top;
  ASSERT_TRUE(s.get_min(&top));
  EXPECT_EQ(top.view(), "a");
  s.del_min();
  ASSERT_TRUE(s.get_min(&top));
  EXPECT_EQ(top.view(), "ab");

  heap_adt<xstring> hi;
  hi.ins_key(xstring(std::string_view("a")), u8);
  hi.ins_key(xstring(std::string_view("\xc3\xa9")), u8);
  ASSERT_TRUE(hi.get_min(&top));
  EXPECT_EQ(static_cast<unsigned char>(top.view()[0]), 0xc3);

  heap_adt<int8_t> i8;
  i8.ins_key(1, u8);
  i8.ins_key(-1, u8);
  int8_t a;
  ASSERT_TRUE(i8.get_min(&a));
  EXPECT_EQ(a, -1);
  heap_adt<uint8_t> u;
  u.ins_key(255, u8);
  u.ins_key(1, u8);
  uint8_t b;
  ASSERT_TRUE(u.get_min(&b));
  EXPECT_EQ(b, 1);
}

TEST(HeapKind, RefusalsAndValueType) {
  const uint8_t zero = 0;
  const int32_t other = 0;
  heap_adt<int64_t> h;
  int64_t v;
  EXPECT_FALSE(h.del_min());
  EXPECT_FALSE(h.get_min(&v));
  EXPECT_FALSE(h.set_min(3));
  EXPECT_EQ(h.size(), 0u);
  EXPECT_FALSE(h.ins_last(3));
  EXPECT_FALSE(h.ins_key(3, value_ref{scalar::i32, &other}));
  EXPECT_TRUE(h.ins_key(3, value_ref{scalar::u08, &zero}));

  // Built with another value type: same descriptors, but ins_key refuses.
  auto c = make_container(kind::heap, scalar::i64, scalar::string, 0);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->val_desc(), u08_desc);
  EXPECT_FALSE(static_cast<adt<int64_t>&>(*c).ins_key(3, value_ref{scalar::u08, &zero}));
  auto d = make_container(kind::heap, scalar::i64, scalar::u08, 0);
  EXPECT_TRUE(static_cast<adt<int64_t>&>(*d).ins_key(3, value_ref{scalar::u08, &zero}));
}

TEST(HeapKind, NanNeverMovesAndNothingBreaks) {
  const uint8_t zero = 0;
  const value_ref u8{scalar::u08, &zero};
  heap_adt<double> h;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double x : {3.0, nan, 1.0, 2.0, nan, 0.5}) h.ins_key(x, u8);
  EXPECT_EQ(h.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(h.del_min());
  EXPECT_FALSE(h.del_min());
}

}  // namespace
}  // namespace nosql_db
