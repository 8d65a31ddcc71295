// Memory exhaustion at every allocation of a command: the command fails,
// the store is exactly as before, and every lock is free again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "api/statement.h"
#include "api/vox_nosql.h"
#include "containers/hold.h"
#include "containers/undo_cases.h"
#include "test_util.h"

namespace {

// Allocations left before operator new throws; negative means never.
thread_local long g_fail_countdown = -1;
// Allocations made on this thread.
thread_local long g_allocations = 0;

void* checked_alloc(std::size_t n) {
  ++g_allocations;
  if (g_fail_countdown == 0) throw std::bad_alloc();
  if (g_fail_countdown > 0) --g_fail_countdown;
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t n) { return checked_alloc(n); }
void* operator new[](std::size_t n) { return checked_alloc(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return checked_alloc(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace nosql_db {
namespace {

using testing_util::test_store;

// Runs act on a store made by setup with the n-th allocation failing, for
// n = 0, 1, ... until act gets through; act answers whether it ran out of
// memory. After every failure the store is as before, every lock is free
// (a writer gets through) and a create takes the vkey it would have taken.
void at_every_allocation(const std::vector<std::string>& setup, const std::function<bool(test_store&)>& act) {
  for (long n = 0;; ++n) {
    SCOPED_TRACE(testing::Message() << "allocation " << n);
    test_store t;
    for (const auto& s : setup) ASSERT_TRUE(t.ok(s)) << s;
    const std::string before = testing_util::snapshot(t.s);
    const uint64_t count = t.s.container_count();
    bool out = true;
    g_fail_countdown = n;
    try {
      out = act(t);
    } catch (const std::bad_alloc&) {
    }
    g_fail_countdown = -1;
    if (!out) return;
    EXPECT_EQ(testing_util::snapshot(t.s), before);
    const auto created = t.col("c vector string");
    ASSERT_EQ(created, std::vector<std::string>{std::to_string(count)});
    EXPECT_TRUE(t.ok("i " + created[0] + " last \"after\""));
    ASSERT_LT(n, 2000);
  }
}

void exhaust(const std::vector<std::string>& setup, const std::string& line) {
  SCOPED_TRACE(line);
  at_every_allocation(setup, [&](test_store& t) {
    datas d;
    exec_cmd(t.s, line.data(), static_cast<int64_t>(line.size()), &d);
    return false;
  });
}

// Every kind, through its create and the insertions, rewrites, reads and
// catalog changes that allocate, each line on top of the ones before.
TEST(OutOfMemory, EveryKindFailsCleanly) {
  struct {
    const char* create;
    std::vector<std::string> lines;
  } kinds[] = {
      {"c vector string v", {"i 0 last \"alpha\"", "i 0 last \"a longer text than any before\"",
                             "i 0 nth 2 \"in the middle of all the others\"", "i 0 first \"in front of the others\"",
                             "s 0 all \"every element gets a much longer text\"", "s 0 range 1 2 \"a longer text\"",
                             "s 0 nth 3 \"one element gets a much longer text\"", "g 0 range 1 3", "d 0 nth 2",
                             "c vector i32 \"other name\"", "k", "k 0", "e \"other name\""}},
      {"c list string l", {"i 0 last \"abcdefghijklmnopqrstuvwxyz\"", "i 0 nth 1 \"front of the list\"",
                           "s 0 all \"every node gets a much longer text\"", "i 0 val 0 \"appended by handle\""}},
      {"c deque string q", {"i 0 last \"abcdefghijklmnopqrstuvwxyz\"", "i 0 first \"front of the deque\"",
                            "i 0 nth 1 \"middle of the deque\"", "s 0 all \"every slot gets a much longer text\""}},
      {"c queue string q", {"i 0 last \"abcdefghijklmnopqrstuvwxyz\"", "s 0 all \"every node gets a longer text\""}},
      {"c stack string s", {"i 0 last \"abcdefghijklmnopqrstuvwxyz\"", "s 0 all \"every slot gets a longer text\""}},
      {"c heap string h", {"i 0 \"abcdefghijklmnopqrstuvwxyz\"", "s 0 min \"a new top that is much longer\""}},
      {"c hashmap i16 string 65536 h", {"i 0 -5 \"abcdefghijklmnopqrstuvwxyz\"", "s 0 value -5 \"a longer value\"",
                                        "s 0 equal -5 7"}},
      {"c hashtable u32 64 h", {"i 0 7", "s 0 equal 7 9"}},
      {"c set string s", {"i 0 \"abcdefghijklmnopqrstuvwxyz\"", "i 0 \"b\"", "s 0 equal b \"a new longer key\"",
                          "s 0 max \"zzzzzzzzzzzzzzzzzzzzzzzzz\"", "d 0 lege a c"}},
      {"c multiset string s", {"i 0 \"abcdefghijklmnopqrstuvwxyz\"", "i 0 b", "i 0 b", "s 0 ge a \"everything\"",
                               "d 0 equal everything"}},
      {"c map string string m", {"i 0 k \"abcdefghijklmnopqrstuvwxyz\"", "i 0 j v", "s 0 value k \"a longer value\"",
                                 "s 0 equal j \"a much longer key\"", "s 0 min \"zzzzzzzzzzzzzzzzzz\""}},
      {"c multimap string string m", {"i 0 k \"abcdefghijklmnopqrstuvwxyz\"", "i 0 k v",
                                      "s 0 value k \"every value gets longer\"", "s 0 equal k \"another key\""}},
      {"c trie", {"i 0 abcdefghijklmnopqrstuvwxyz", "i 0 abcdefghijklmnopqrstuvwxyz0123", "i 0 abcdXYZ"}},
  };
  for (const auto& k : kinds) {
    exhaust({}, k.create);
    std::vector<std::string> setup = {k.create};
    for (const auto& line : k.lines) {
      exhaust(setup, line);
      setup.push_back(line);  // the next line runs on top of this one
    }
    exhaust(setup, "g 0 all");
  }
}

// Trees two levels deep with keys too long to sit inline, so that failures
// strike in leaf and inner splits, in separator copies and in the middle of
// moves of many entries (which must take back what they put in).
TEST(OutOfMemory, DeepTreesFailCleanly) {
  const auto key = [](int i) { return "\"a key long enough to need the heap " + std::to_string(i) + "\""; };
  std::vector<std::string> set = {"c multiset string s"}, map = {"c multimap string string m"};
  for (int i = 0; i < 300; ++i) {
    set.push_back("i 0 " + key((i * 97) % 300));
    map.push_back("i 0 " + key((i * 97) % 300) + " " + key(i));
  }
  for (int i = 0; i < 40; ++i) map.push_back("i 0 dup " + key(i));
  exhaust(set, "i 0 " + key(1000));
  exhaust(set, "s 0 gt " + key(150) + " \"b\"");
  exhaust(set, "d 0 ltgt " + key(20) + " " + key(80));
  exhaust(map, "s 0 equal dup " + key(7));
  exhaust(map, "s 0 min \"zz\"");
  exhaust(map, "d 0 equal dup");
}

// A prepared statement whose answer is one cell (or none) allocates
// nothing once it has run: the answer lives in the statement.
TEST(OutOfMemory, PreparedOneCellAnswersAllocateNothing) {
  test_store t;
  for (const char* line : {"c set i32", "i 0 5", "c vector u64", "i 1 last 7", "c map i32 string",
                           "i 2 5 \"a value of 23 bytes lon\"", "c list u08", "i 3 last 9"})
    ASSERT_TRUE(t.ok(line)) << line;
  const struct {
    const char* line;
    int64_t value;
  } rows[] = {{"g 0 equal ?", 5}, {"g 0 count", 0}, {"g 1 nth ?", 1},  {"g 2 value ?", 5},
              {"g 0 rank ?", 9},  {"g 3 first", 0}, {"s 1 nth 1 ?", 8}, {"i 0 ?", 5}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    const std::unique_ptr<statement> st = statement::prepare(t.s, r.line, static_cast<int64_t>(std::strlen(r.line)));
    ASSERT_NE(st, nullptr);
    if (st->placeholders()) {
      ASSERT_TRUE(st->bind_int64(1, r.value));
    }
    st->run();  // the thread's first answers may set up what it keeps
    const long before = g_allocations;
    for (int i = 0; i < 100; ++i) {
      if (st->placeholders()) st->bind_int64(1, r.value);
      st->run();
    }
    EXPECT_EQ(g_allocations, before);
  }
}

// Statements under memory exhaustion: prepare, bind and run fail cleanly
// and leave the store as it was.
TEST(OutOfMemory, StatementsFailCleanly) {
  const std::string text = "a text much longer than fits inside a string";
  at_every_allocation({"c map string string", "i 0 k v"}, [&](test_store& t) {
    const std::unique_ptr<statement> st = statement::prepare(t.s, "i 0 ? ?", 7);
    if (st && st->bind_text(1, text) && st->bind_text(2, text)) st->run();
    return false;
  });
}

// Taking changes back: rounds of random changes under begin_undo on one
// container of each kind, then rollback, which must give back its dump
// bytes and handle table, or end_undo, which keeps the changes. In half
// the rounds a change runs out of memory part way, and the rollback runs
// with every allocation failing: it needs no memory. Each round starts
// from what the last one left, list handles from before among it.
TEST(OutOfMemory, RollbackNeedsNoMemory) {
  for (const testing_util::kind_case& k : testing_util::undo_kinds) {
    SCOPED_TRACE(k.name);
    std::mt19937 r(7);
    test_store t;
    ASSERT_TRUE(t.ok(k.create));
    std::vector<std::string> handles;
    testing_util::run_changes(t, r, k, 60, handles);
    ab_adt& c = *t.s.at(0);
    for (int round = 0; round < 160; ++round) {
      const long fail_at = round % 2 ? -1 : static_cast<long>(r() % 16);
      exclusive_hold h(c);  // the changes are made as a batch makes them: with the hold taken
      const std::string before = testing_util::image(c);
      c.begin_undo();
      g_fail_countdown = fail_at;
      try {
        testing_util::run_changes(t, r, k, 1 + static_cast<int>(r() % 25), handles);
      } catch (const std::bad_alloc&) {
      }
      g_fail_countdown = fail_at < 0 && round % 4 == 1 ? -1 : 0;
      if (g_fail_countdown < 0) {
        c.end_undo();  // kept
        continue;
      }
      c.rollback();
      g_fail_countdown = -1;
      ASSERT_EQ(testing_util::image(c), before) << "round " << round << ", fail at " << fail_at;
    }
  }
}

// A batch under memory exhaustion at its n-th allocation, for n = 0, 1, ...
// until it gets through: it fails as out of memory, with the store (its
// containers, names and the next vkey a create takes) as it was and every
// lock free. Batches over each kind, and one that changes the catalog.
TEST(OutOfMemory, BatchesFailCleanly) {
  std::vector<std::pair<std::string, std::string>> cases;  // (set-up, batch)
  std::mt19937 r(3);
  for (const testing_util::kind_case& k : testing_util::undo_kinds) {
    // Random changes that succeed together.
    for (bool found = false; !found;) {
      const std::string text = testing_util::plain_changes(r, k, 8) + "g 0 all";
      test_store t;
      found = t.ok(k.create) && t.batch(text) >= 0;
      if (found) cases.emplace_back(k.create, text);
    }
  }
  cases.emplace_back("c set string s", "i 0 \"a key too long for the string's own bytes\"\nc list string l\n"
                                       "i 1 last \"another long text for the new list\"\ne 0\nclear\nc set i32 s\ni 0 5");
  for (const auto& [setup, text] : cases) {
    SCOPED_TRACE(text);
    const std::vector<batch_item> items = batch_lines(text);
    at_every_allocation({setup}, [&](test_store& t) {
      std::vector<datas*> answers(items.size());
      int64_t got = -1;
      try {
        got = run_batch(t.s, items.data(), static_cast<int64_t>(items.size()), answers.data());
      } catch (...) {
        ADD_FAILURE() << "the batch let an exception out";
        return false;
      }
      for (int64_t i = 0; i < got; ++i) del_datas(answers[static_cast<size_t>(i)]);
      EXPECT_TRUE(got >= 0 || last_failure() == failure::out_of_memory);
      return got < 0;
    });
  }
}

}  // namespace
}  // namespace nosql_db
