// Prepared statements against the bare containers a host could link
// instead, and against exec:
//
//  - in cache (a set of 1,000 i32): a prepared `g S equal ?` (bind, run,
//    read the cell) against std::set::find behind two std::shared_mutex
//    shared locks (the locking the store does); diff_ns is our extra cost;
//  - at 1,000,000 random distinct i32 keys: prepared insert, equal, delete
//    and a range of 100 keys read through the column's values, against
//    absl::btree_set and std::set doing the same work, and exec;
//  - two threads running prepared `g S equal ?` on one set against one.
//
// The sides run in alternating rounds of 2,500 operations within each
// benchmark, so the machine's drifts fall on all of them alike; the
// counters give each side's ns per operation and our ratios.
#include <absl/container/btree_set.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <random>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/vox_nosql.h"
#include "bench_util.h"

namespace {

using bench_util::must;
using bench_util::paired;
using bench_util::shuffled;

// Random keys below n, the same sequence for every side.
struct key_stream {
  std::vector<int32_t> k;
  key_stream(int64_t n, uint32_t seed) : k(1 << 16) {
    std::mt19937 rng(seed);
    for (auto& x : k) x = static_cast<int32_t>(rng() % n);
  }
  int32_t operator[](uint64_t i) const { return k[i & 0xffff]; }
};

// A prepared statement that must prepare.
struct prepared {
  vox_stmt* s;
  explicit prepared(const std::string& line) : s(vox_prepare(line.data(), static_cast<int32_t>(line.size()))) {
    if (!s) std::abort();
  }
  prepared(const prepared&) = delete;
  prepared& operator=(const prepared&) = delete;
  ~prepared() { vox_finalize(s); }
  const datas* run1(int64_t a) {
    vox_bind_int64(s, 1, a);
    return vox_run(s);
  }
  const datas* run2(int64_t a, int64_t b) {
    vox_bind_int64(s, 1, a);
    vox_bind_int64(s, 2, b);
    return vox_run(s);
  }
};

// A set of i32 named NAME filled with 0 .. n-1 in random order.
void fill_ours(const std::string& name, int64_t n) {
  if (datas* d = exec(("e \"" + name + "\"").c_str(), static_cast<int32_t>(name.size() + 4))) del_datas(d);
  must("c set i32 " + name);
  prepared ins("i \"" + name + "\" ?");
  for (int32_t k : shuffled(n, 42)) ins.run1(k);
}

// ---- in cache: one lookup against std::set behind the store's locking ----

void BM_EqualInCache(benchmark::State& st) {
  fill_ours("c1000", 1000);
  std::set<int32_t> s;
  for (int32_t k = 0; k < 1000; ++k) s.insert(k);
  std::shared_mutex store_lock, set_lock;
  const key_stream keys(1000, 5);
  prepared find("g \"c1000\" equal ?");
  char line[64];
  auto ours = [&](uint64_t i) { benchmark::DoNotOptimize(as_int32(at(0, 0, find.run1(keys[i])))); };
  auto bare = [&](uint64_t i) {
    std::shared_lock a(store_lock), b(set_lock);
    benchmark::DoNotOptimize(*s.find(keys[i]));
  };
  auto through_exec = [&](uint64_t i) {
    datas* d = exec(line, std::snprintf(line, sizeof line, "g \"c1000\" equal %d", keys[i]));
    benchmark::DoNotOptimize(as_int32(at(0, 0, d)));
    del_datas(d);
  };
  paired<decltype(ours), decltype(bare), decltype(through_exec)>{st, {"prepared", "std_locked", "exec"}}.run(
      ours, bare, through_exec);
  st.counters["diff_ns"] = st.counters["prepared_ns"] - st.counters["std_locked_ns"];
}

// ---- a million keys: prepared, absl::btree_set, std::set, exec ----

struct million {
  int64_t n;
  std::string name;
  absl::btree_set<int32_t> absl_set;
  std::set<int32_t> std_set;
  explicit million(int64_t count) : n(count), name(std::to_string(count)) {
    name.insert(0, 1, 'm');
    fill_ours(name, n);
    for (int32_t k : shuffled(n, 42)) {
      absl_set.insert(k);
      std_set.insert(k);
    }
  }
  ~million() { must("e \"" + name + "\""); }
};

void BM_Insert(benchmark::State& st) {
  const int64_t n = st.range(0);
  const auto keys = shuffled(n, 7);
  // The statement's set and exec's, each made anew once all n keys are in.
  std::unique_ptr<prepared> ins;
  auto fresh = [&] {
    for (const char* name : {"ins", "ins_exec"}) {
      if (datas* d = exec(("e \"" + std::string(name) + "\"").c_str(), static_cast<int32_t>(std::strlen(name) + 4))) del_datas(d);
      must("c set i32 " + std::string(name));
    }
    ins = std::make_unique<prepared>("i \"ins\" ?");
  };
  fresh();
  absl::btree_set<int32_t> a;
  std::set<int32_t> s;
  char line[64];
  auto ours = [&](uint64_t i) { benchmark::DoNotOptimize(ins->run1(keys[i % n])); };
  auto absl_side = [&](uint64_t i) { a.insert(keys[i % n]); };
  auto std_side = [&](uint64_t i) { s.insert(keys[i % n]); };
  auto exec_side = [&](uint64_t i) {
    del_datas(exec(line, std::snprintf(line, sizeof line, "i \"ins_exec\" %d", keys[i % n])));
  };
  paired<decltype(ours), decltype(absl_side), decltype(std_side), decltype(exec_side)>{
      st, {"prepared", "absl", "std", "exec"}}
      .run_with(
          [&](uint64_t done) {
            if (done % n != 0) return;  // all n in: start again from empty
            fresh();
            a.clear();
            s.clear();
          },
          ours, absl_side, std_side, exec_side);
  ins.reset();
  must("e \"ins\"");
  must("e \"ins_exec\"");
}

void BM_Equal(benchmark::State& st) {
  million m(st.range(0));
  const key_stream keys(m.n, 11);
  prepared find("g \"" + m.name + "\" equal ?");
  char line[64];
  auto ours = [&](uint64_t i) { benchmark::DoNotOptimize(as_int32(at(0, 0, find.run1(keys[i])))); };
  auto absl_side = [&](uint64_t i) { benchmark::DoNotOptimize(*m.absl_set.find(keys[i])); };
  auto std_side = [&](uint64_t i) { benchmark::DoNotOptimize(*m.std_set.find(keys[i])); };
  auto exec_side = [&](uint64_t i) {
    datas* d = exec(line, std::snprintf(line, sizeof line, "g \"%s\" equal %d", m.name.c_str(), keys[i]));
    benchmark::DoNotOptimize(as_int32(at(0, 0, d)));
    del_datas(d);
  };
  paired<decltype(ours), decltype(absl_side), decltype(std_side), decltype(exec_side)>{
      st, {"prepared", "absl", "std", "exec"}}
      .run(ours, absl_side, std_side, exec_side);
}

// The keys a .. a + 99, read in bulk (the column's values; the containers'
// iterators).
void BM_Range100(benchmark::State& st) {
  million m(st.range(0));
  const key_stream keys(m.n - 100, 13);
  prepared range("g \"" + m.name + "\" lege ? ?");
  std::vector<int32_t> out;
  int64_t sum = 0;
  char line[96];
  auto ours = [&](uint64_t i) {
    uint64_t rows = 0;
    const int32_t* v = static_cast<const int32_t*>(vox_col_values(col_of(range.run2(keys[i], keys[i] + 99), 0), &rows));
    for (uint64_t r = 0; r < rows; ++r) sum += v[r];
  };
  auto absl_side = [&](uint64_t i) {
    out.assign(m.absl_set.lower_bound(keys[i]), m.absl_set.upper_bound(keys[i] + 99));
    for (int32_t x : out) sum += x;
  };
  auto std_side = [&](uint64_t i) {
    out.assign(m.std_set.lower_bound(keys[i]), m.std_set.upper_bound(keys[i] + 99));
    for (int32_t x : out) sum += x;
  };
  auto exec_side = [&](uint64_t i) {
    datas* d = exec(line, std::snprintf(line, sizeof line, "g \"%s\" lege %d %d", m.name.c_str(), keys[i], keys[i] + 99));
    for (uint64_t r = 0, rows = rows_of(d); r < rows; ++r) sum += as_int32(at(r, 0, d));
    del_datas(d);
  };
  paired<decltype(ours), decltype(absl_side), decltype(std_side), decltype(exec_side)>{
      st, {"prepared", "absl", "std", "exec"}}
      .run(ours, absl_side, std_side, exec_side);
  benchmark::DoNotOptimize(sum);
}

// Deletion by key of a tenth of the keys, each side's keys put back
// (untimed) once all are gone.
void BM_Delete(benchmark::State& st) {
  million m(st.range(0));
  auto gone = shuffled(m.n, 17);
  gone.resize(static_cast<size_t>(m.n / 10));
  const uint64_t k = gone.size() / 2;  // half for the statement, half for exec
  prepared del("d \"" + m.name + "\" equal ?");
  prepared put("i \"" + m.name + "\" ?");
  char line[96];
  auto ours = [&](uint64_t i) { benchmark::DoNotOptimize(del.run1(gone[i % k])); };
  auto absl_side = [&](uint64_t i) { m.absl_set.erase(gone[i % k]); };
  auto std_side = [&](uint64_t i) { m.std_set.erase(gone[i % k]); };
  auto exec_side = [&](uint64_t i) {
    del_datas(exec(line, std::snprintf(line, sizeof line, "d \"%s\" equal %d", m.name.c_str(), gone[k + i % k])));
  };
  paired<decltype(ours), decltype(absl_side), decltype(std_side), decltype(exec_side)>{
      st, {"prepared", "absl", "std", "exec"}}
      .run_with(
          [&](uint64_t done) {
            if (done % k != 0) return;
            for (int32_t x : gone) {
              put.run1(x);
              m.absl_set.insert(x);
              m.std_set.insert(x);
            }
          },
          ours, absl_side, std_side, exec_side);
}

// ---- readers on one set: prepared equal from one and two threads ----

// Alternates short spells of one reader and of two, so that the machine's
// drifts fall on both alike; reports the ratio of their rates.
void BM_EqualThreads(benchmark::State& st) {
  const int64_t n = st.range(0);
  fill_ours("shared", n);
  using clock = std::chrono::steady_clock;
  auto reader = [n](uint32_t seed, clock::time_point until, uint64_t* ops) {
    const key_stream keys(n, seed);
    prepared find("g \"shared\" equal ?");
    uint64_t i = 0;
    while ((i & 63) != 0 || clock::now() < until) benchmark::DoNotOptimize(as_int32(at(0, 0, find.run1(keys[i++]))));
    *ops = i;
  };
  double rate[2] = {0, 0};
  for (auto _ : st) {
    for (int spell = 0; spell < 20; ++spell) {
      for (int threads = 1; threads <= 2; ++threads) {
        const auto start = clock::now(), until = start + std::chrono::milliseconds(100);
        uint64_t ops[2] = {0, 0};
        std::vector<std::thread> ts;
        for (int t = 0; t < threads; ++t) ts.emplace_back(reader, 11 + spell * 2 + t, until, &ops[t]);
        for (auto& t : ts) t.join();
        rate[threads - 1] += static_cast<double>(ops[0] + ops[1]) /
                             std::chrono::duration<double>(clock::now() - start).count();
      }
    }
  }
  st.counters["one_thread_per_s"] = rate[0] / 20;
  st.counters["two_threads_per_s"] = rate[1] / 20;
  st.counters["scaling"] = rate[1] / rate[0];
  must("e \"shared\"");
}

BENCHMARK(BM_EqualInCache)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Insert)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Equal)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Range100)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Delete)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EqualThreads)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
