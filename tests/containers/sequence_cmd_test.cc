// The sequence kinds and the heap through the command path (exec_cmd on a
// local store), and their save/load bodies.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/exec.h"
#include "containers/deque.h"
#include "containers/heap.h"
#include "containers/list.h"
#include "containers/queue.h"
#include "containers/stack.h"
#include "lang/codec.h"

namespace nosql_db {
namespace {

struct session {
  store s;
  datas d;
  bool run(const std::string& line) {
    d = datas{};
    return exec_cmd(s, line.data(), static_cast<int64_t>(line.size()), &d);
  }
  // The single column of the last answer as i64 cells (empty: no column).
  std::vector<int64_t> ints() const {
    std::vector<int64_t> r;
    if (d.cols.empty()) return r;
    for (const auto& c : d.cols[0].cells) {
      int64_t v;
      std::memcpy(&v, c.value, sizeof v);
      r.push_back(v);
    }
    return r;
  }
  uint64_t one_u64() const {
    EXPECT_EQ(ints().size(), 1u);
    return ints().empty() ? 0 : static_cast<uint64_t>(ints()[0]);
  }
};

using vec = std::vector<int64_t>;

TEST(SequenceCommands, DequeInsertsAtZeroBasedIndex) {
  session t;
  ASSERT_TRUE(t.run("c deque i64 d"));
  ASSERT_TRUE(t.run("i \"d\" last 10"));
  ASSERT_TRUE(t.run("i \"d\" last 20"));
  ASSERT_TRUE(t.run("i \"d\" nth 0 5"));
  ASSERT_TRUE(t.run("i \"d\" nth 3 30"));
  EXPECT_FALSE(t.run("i \"d\" nth 5 1"));
  ASSERT_TRUE(t.run("g \"d\" all"));
  EXPECT_EQ(t.ints(), (vec{5, 10, 20, 30}));
  ASSERT_TRUE(t.run("g \"d\" nth 1"));
  EXPECT_EQ(t.ints(), (vec{5}));
  // End removals on an empty deque still succeed; set all does not.
  ASSERT_TRUE(t.run("d \"d\" all"));
  EXPECT_TRUE(t.run("d \"d\" first"));
  EXPECT_TRUE(t.run("d \"d\" last"));
  EXPECT_FALSE(t.run("s \"d\" all 1"));
}

TEST(SequenceCommands, ListHandlesRoundTripAsNumbers) {
  session t;
  ASSERT_TRUE(t.run("c list i64 l"));
  for (const char* x : {"10", "20", "30"}) ASSERT_TRUE(t.run(std::string("i \"l\" last ") + x));
  ASSERT_TRUE(t.run("g \"l\" pos 20"));
  const std::string h = std::to_string(t.one_u64());
  ASSERT_TRUE(t.run("g \"l\" val " + h));
  EXPECT_EQ(t.ints(), (vec{20}));
  ASSERT_TRUE(t.run("s \"l\" val " + h + " 25"));
  ASSERT_TRUE(t.run("i \"l\" val " + h + " 15"));
  ASSERT_TRUE(t.run("g \"l\" all"));
  EXPECT_EQ(t.ints(), (vec{10, 15, 25, 30}));
  ASSERT_TRUE(t.run("d \"l\" pos " + h));
  // A removed node's handle reads nothing and cannot be written or removed.
  ASSERT_TRUE(t.run("g \"l\" val " + h));
  EXPECT_TRUE(t.ints().empty());
  EXPECT_FALSE(t.run("s \"l\" val " + h + " 1"));
  EXPECT_FALSE(t.run("d \"l\" pos " + h));
  EXPECT_TRUE(t.run("d \"l\" pos 0"));
  ASSERT_TRUE(t.run("g \"l\" all"));
  EXPECT_EQ(t.ints(), (vec{10, 15, 30}));
}

TEST(SequenceCommands, QueueStackAndHeapEnds) {
  session t;
  ASSERT_TRUE(t.run("c queue i64 q"));
  ASSERT_TRUE(t.run("c stack i64 st"));
  ASSERT_TRUE(t.run("c heap i64 h"));
  for (const char* x : {"5", "3", "8", "1"}) {
    ASSERT_TRUE(t.run(std::string("i \"q\" last ") + x));
    ASSERT_TRUE(t.run(std::string("i \"st\" last ") + x));
    ASSERT_TRUE(t.run(std::string("i \"h\" ") + x));
  }
  EXPECT_FALSE(t.run("i \"q\" 7"));  // no insertion by key on a queue
  EXPECT_FALSE(t.run("i \"st\" first 7"));

  ASSERT_TRUE(t.run("d \"q\" first"));
  ASSERT_TRUE(t.run("g \"q\" first"));
  EXPECT_EQ(t.ints(), (vec{3}));
  ASSERT_TRUE(t.run("d \"st\" last"));
  ASSERT_TRUE(t.run("g \"st\" last"));
  EXPECT_EQ(t.ints(), (vec{8}));
  ASSERT_TRUE(t.run("g \"h\" all"));
  EXPECT_EQ(t.ints(), (vec{1, 3, 8, 5}));
  ASSERT_TRUE(t.run("d \"h\" min"));
  ASSERT_TRUE(t.run("g \"h\" min"));
  EXPECT_EQ(t.ints(), (vec{3}));
  ASSERT_TRUE(t.run("s \"h\" min 9"));
  ASSERT_TRUE(t.run("g \"h\" all"));
  EXPECT_EQ(t.ints(), (vec{5, 8, 9}));

  for (int i = 0; i < 3; ++i) ASSERT_TRUE(t.run("d \"q\" first"));
  EXPECT_FALSE(t.run("d \"q\" first"));
  // A read the kind refuses answers with no column.
  ASSERT_TRUE(t.run("g \"q\" nth 1"));
  EXPECT_TRUE(t.d.cols.empty());
}

// ---- save / load ------------------------------------------------------------

// Saves c to a temporary file, checks the record header, and loads the body
// into fresh.
bool round_trip(const ab_adt& c, ab_adt& fresh) {
  FILE* f = std::tmpfile();
  if (!f) return false;
  const int fd = fileno(f);
  {
    dump_out out(fd);
    if (!c.save(out) || !out.flush()) return false;
  }
  const off_t size = ::lseek(fd, 0, SEEK_CUR);
  ::lseek(fd, 0, SEEK_SET);
  dump_in in(fd, static_cast<uint64_t>(size));
  xstring word;
  type_desc kd, vd;
  bool ok = in.get_text(&word) && word.view() == c.kind_name() && in.get_desc(&kd) && kd == c.key_desc() &&
            in.get_desc(&vd) && vd == u08_desc && fresh.load(in) && in.remaining() == 0;
  std::fclose(f);
  return ok;
}

template <class K>
std::vector<K> all_of(const ab_adt& c) {
  elem_array<K> l;
  EXPECT_TRUE(static_cast<const adt<K>&>(c).get_all(&l));
  return std::vector<K>(l.begin(), l.end());
}

TEST(SequenceSaveLoad, EveryKindRestoresItsOrder) {
  const uint8_t zero = 0;
  const value_ref u8{scalar::u08, &zero};
  for (kind k : {kind::list, kind::deque, kind::queue, kind::stack, kind::heap}) {
    SCOPED_TRACE(std::string(kind_word(k)));
    auto a = make_container(k, scalar::i64, scalar::u08, 0);
    auto& c = static_cast<adt<int64_t>&>(*a);
    for (int64_t x : {50, 20, 40, 10, 30, 10}) {
      if (k == kind::heap) c.ins_key(x, u8);
      else c.ins_last(x);
    }
    if (k == kind::deque) {
      c.del_first();
      c.ins_first(60);  // a front part and consumed slots
    }
    auto b = make_container(k, scalar::i64, scalar::u08, 0);
    ASSERT_TRUE(round_trip(*a, *b));
    EXPECT_EQ(all_of<int64_t>(*b), all_of<int64_t>(*a));
  }
}

TEST(SequenceSaveLoad, StringsAndShortBodies) {
  list_adt<xstring> l;
  for (const char* s : {"", "alpha", "b c"}) l.ins_last(xstring(std::string_view(s)));
  list_adt<xstring> back;
  ASSERT_TRUE(round_trip(l, back));
  std::vector<std::string> got;
  for (const auto& s : all_of<xstring>(back)) got.emplace_back(s.view());
  EXPECT_EQ(got, (std::vector<std::string>{"", "alpha", "b c"}));

  // A body that claims more elements than the file holds is refused.
  FILE* f = std::tmpfile();
  ASSERT_TRUE(f);
  const uint64_t words[] = {1000, 7};
  ASSERT_EQ(std::fwrite(words, 8, 2, f), 2u);
  std::fflush(f);
  for (kind k : {kind::list, kind::deque, kind::queue, kind::stack, kind::heap}) {
    SCOPED_TRACE(std::string(kind_word(k)));
    ::lseek(fileno(f), 0, SEEK_SET);
    dump_in in(fileno(f), 16);
    auto c = make_container(k, scalar::i64, scalar::u08, 0);
    EXPECT_FALSE(c->load(in));
  }
  std::fclose(f);
}

}  // namespace
}  // namespace nosql_db
