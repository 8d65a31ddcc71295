// End operations of the list, deque, queue and stack, the deque's
// positional read, and heap push/pop, each next to the standard container
// doing the same work in the same run. Compare a pair by the ratio of their
// times per iteration.
//
// Pairs:
//   Exec/<kind>  vs  Std/<kind>       insert at one end + remove at the other
//                                     (stack: push + pop), through exec
//   Direct/<kind> vs Std/<kind>       the same through the container calls
//   StdLocked/<kind>                  Std with the per-operation lock that
//                                     every container operation takes
//   StdText/<kind>                    Std behind a minimal line parser and
//                                     a mutex: the same text interface
//   DequeNth/<size> vs StdDequeNth[Locked]/<size>  random positional reads
//   HeapDirect / HeapExec vs StdPriorityQueue  1,000,000 pushes then pops
#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <queue>
#include <random>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "api/exec.h"
#include "api/vox_nosql.h"
#include "containers/sequence/deque.h"
#include "containers/sequence/heap.h"
#include "containers/sequence/list.h"
#include "containers/sequence/queue.h"
#include "containers/sequence/stack.h"

namespace nosql_db {
namespace {

constexpr int prefill = 1000;

bool run(store& s, datas& d, const std::string& line) {
  return exec_cmd(s, line.data(), static_cast<int64_t>(line.size()), &d);
}

// Kinds by benchmark argument.
const char* const kind_words[] = {"list", "deque", "queue", "stack"};

// One exported call, result set freed, as a host does it.
bool exec_line(const std::string& line) {
  datas* d = exec(line.data(), static_cast<int32_t>(line.size()));
  del_datas(d);
  return d != nullptr;
}

// Through the exported entry point, in the library's own store.
void Exec(benchmark::State& st) {
  const int k = static_cast<int>(st.range(0));
  const std::string create = std::string("c ") + kind_words[k] + " i64";
  datas* c = exec(create.data(), static_cast<int32_t>(create.size()));
  // By vkey, as a host that cares for speed refers to it.
  const std::string name = std::to_string(as_uint64(at(0, 0, c)));
  del_datas(c);
  for (int i = 0; i < prefill; ++i) exec_line("i " + name + " last 42");
  const std::string in = "i " + name + " last 42";
  const std::string out = "d " + name + (k == 3 ? " last" : " first");
  for (auto _ : st) {
    if (!exec_line(in) || !exec_line(out)) st.SkipWithError("command failed");
  }
  exec_line("e " + name);
  st.SetLabel(kind_words[k]);
}
BENCHMARK(Exec)->DenseRange(0, 3);

void Direct(benchmark::State& st) {
  const int k = static_cast<int>(st.range(0));
  auto c = make_container(static_cast<kind>(static_cast<int>(kind::list) + k), scalar::i64, scalar::u08, 0);
  auto& a = static_cast<adt<int64_t>&>(*c);
  for (int i = 0; i < prefill; ++i) a.ins_last(42);
  for (auto _ : st) {
    a.ins_last(42);
    if (k == 3) a.del_last();
    else a.del_first();
  }
  st.SetLabel(kind_words[k]);
}
BENCHMARK(Direct)->DenseRange(0, 3);

template <class C>
void std_ends(benchmark::State& st, C& c, bool lifo) {
  for (int i = 0; i < prefill; ++i) c.push_back(42);
  for (auto _ : st) {
    c.push_back(42);
    if (lifo) c.pop_back();
    else c.erase(c.begin());
    benchmark::DoNotOptimize(c);
  }
}
void Std(benchmark::State& st) {
  const int k = static_cast<int>(st.range(0));
  if (k == 0 || k == 2) {
    std::list<int64_t> c;
    std_ends(st, c, false);
  } else if (k == 1) {
    std::deque<int64_t> c;
    std_ends(st, c, false);
  } else {
    std::vector<int64_t> c;
    std_ends(st, c, true);
  }
  st.SetLabel(k == 0 || k == 2 ? "std::list" : k == 1 ? "std::deque" : "std::vector");
}
BENCHMARK(Std)->DenseRange(0, 3);

// The standard containers with the per-operation exclusive lock that every
// container operation takes: separates the lock's cost from the storage's.
template <class C>
void std_locked_ends(benchmark::State& st, C& c, bool lifo) {
  std::shared_mutex m;
  for (int i = 0; i < prefill; ++i) c.push_back(42);
  for (auto _ : st) {
    {
      std::unique_lock l(m);
      c.push_back(42);
    }
    std::unique_lock l(m);
    if (lifo) c.pop_back();
    else c.erase(c.begin());
    benchmark::DoNotOptimize(c);
  }
}
void StdLocked(benchmark::State& st) {
  const int k = static_cast<int>(st.range(0));
  if (k == 0 || k == 2) {
    std::list<int64_t> c;
    std_locked_ends(st, c, false);
  } else if (k == 1) {
    std::deque<int64_t> c;
    std_locked_ends(st, c, false);
  } else {
    std::vector<int64_t> c;
    std_locked_ends(st, c, true);
  }
  st.SetLabel(k == 0 || k == 2 ? "std::list" : k == 1 ? "std::deque" : "std::vector");
}
BENCHMARK(StdLocked)->DenseRange(0, 3);

// The smallest thread-safe text front end a host could write over a
// standard container: split the line at spaces, read the container number
// and the value with from_chars, match the end word, one mutex per
// operation. It does the same work as Exec minus the generality (one
// container, one type, no quoting, no catalog).
template <class C>
struct text_front {
  C c;
  std::mutex m;
  bool run(std::string_view line) {
    std::string_view w[4];
    int n = 0;
    for (size_t i = 0; i < line.size() && n < 4;) {
      const size_t j = std::min(line.find(' ', i), line.size());
      if (j > i) w[n++] = line.substr(i, j - i);
      i = j + 1;
    }
    uint64_t id = 0;
    if (n < 3 || std::from_chars(w[1].data(), w[1].data() + w[1].size(), id).ec != std::errc() || id != 0)
      return false;
    if (w[0] == "i" && n == 4 && w[2] == "last") {
      int64_t v = 0;
      if (std::from_chars(w[3].data(), w[3].data() + w[3].size(), v).ec != std::errc()) return false;
      std::lock_guard l(m);
      c.push_back(v);
      return true;
    }
    if (w[0] == "d" && n == 3) {
      std::lock_guard l(m);
      if (c.empty()) return false;
      if (w[2] == "last") c.pop_back();
      else if (w[2] == "first") c.erase(c.begin());
      else return false;
      return true;
    }
    return false;
  }
};
template <class C>
void std_text_ends(benchmark::State& st, bool lifo) {
  text_front<C> f;
  for (int i = 0; i < prefill; ++i) f.run("i 0 last 42");
  const std::string in = "i 0 last 42";
  const std::string out = lifo ? "d 0 last" : "d 0 first";
  for (auto _ : st) {
    if (!f.run(in) || !f.run(out)) st.SkipWithError("command failed");
    benchmark::DoNotOptimize(f.c);
  }
}
void StdText(benchmark::State& st) {
  const int k = static_cast<int>(st.range(0));
  if (k == 0 || k == 2) std_text_ends<std::list<int64_t>>(st, false);
  else if (k == 1) std_text_ends<std::deque<int64_t>>(st, false);
  else std_text_ends<std::vector<int64_t>>(st, true);
  st.SetLabel(k == 0 || k == 2 ? "std::list" : k == 1 ? "std::deque" : "std::vector");
}
BENCHMARK(StdText)->DenseRange(0, 3);

// Random reads by position; the time should not depend on the size.
void DequeNth(benchmark::State& st) {
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  deque_adt<int64_t> d;
  for (uint64_t i = 0; i < n; ++i) (i % 2 ? d.ins_last(int64_t(i)) : d.ins_first(int64_t(i)));
  std::mt19937_64 rng(1);
  int64_t v = 0;
  for (auto _ : st) {
    d.get_nth(1 + rng() % n, &v);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(DequeNth)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);

// Positions in a strided walk (no cache effects from randomness): the cost
// per read is the same at every size.
void DequeNthStride(benchmark::State& st) {
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  deque_adt<int64_t> d;
  for (uint64_t i = 0; i < n; ++i) (i % 2 ? d.ins_last(int64_t(i)) : d.ins_first(int64_t(i)));
  uint64_t p = 0;
  int64_t v = 0;
  for (auto _ : st) {
    p = (p + 7) % n;
    d.get_nth(p + 1, &v);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(DequeNthStride)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);

void StdDequeNth(benchmark::State& st) {
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  std::deque<int64_t> d;
  for (uint64_t i = 0; i < n; ++i) (i % 2 ? d.push_back(int64_t(i)) : d.push_front(int64_t(i)));
  std::mt19937_64 rng(1);
  for (auto _ : st) {
    int64_t v = d[rng() % n];
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(StdDequeNth)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);

void StdDequeNthLocked(benchmark::State& st) {
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  std::deque<int64_t> d;
  std::shared_mutex m;
  for (uint64_t i = 0; i < n; ++i) (i % 2 ? d.push_back(int64_t(i)) : d.push_front(int64_t(i)));
  std::mt19937_64 rng(1);
  for (auto _ : st) {
    const uint64_t p = rng() % n;
    std::shared_lock l(m);
    int64_t v = d[p];
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(StdDequeNthLocked)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);

constexpr int heap_n = 1'000'000;

const std::vector<int64_t>& heap_input() {
  static const std::vector<int64_t> v = [] {
    std::mt19937_64 rng(42);
    std::vector<int64_t> r(heap_n);
    for (auto& x : r) x = static_cast<int64_t>(rng());
    return r;
  }();
  return v;
}

void HeapDirect(benchmark::State& st) {
  const auto& in = heap_input();
  const uint8_t zero = 0;
  const value_ref u8{scalar::u08, &zero};
  for (auto _ : st) {
    heap_adt<int64_t> h;
    for (int64_t x : in) h.ins_key(x, u8);
    int64_t v = 0;
    while (h.get_min(&v)) h.del_min();
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(HeapDirect)->Unit(benchmark::kMillisecond);

void HeapExec(benchmark::State& st) {
  const auto& in = heap_input();
  std::vector<std::string> lines;
  lines.reserve(in.size());
  for (int64_t x : in) lines.push_back("i 0 " + std::to_string(x));
  const std::string pop = "d 0 min";
  for (auto _ : st) {
    store s;
    datas d;
    run(s, d, "c heap i64");
    for (const auto& l : lines) run(s, d, l);
    for (int i = 0; i < heap_n; ++i) run(s, d, pop);
  }
}
BENCHMARK(HeapExec)->Unit(benchmark::kMillisecond);

void StdPriorityQueue(benchmark::State& st) {
  const auto& in = heap_input();
  for (auto _ : st) {
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<>> q;
    for (int64_t x : in) q.push(x);
    int64_t v = 0;
    while (!q.empty()) {
      v = q.top();
      q.pop();
    }
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(StdPriorityQueue)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nosql_db

BENCHMARK_MAIN();
