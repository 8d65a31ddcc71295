// Ordered kinds against the standard tree containers, same work in the same
// run: insertion of distinct i32 keys in random order through exec_cmd (the
// host formats each line) vs std::set::insert; rank; a lege range query of
// about 100 keys; deletion by key; and memory per element measured as RSS
// growth over the count.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "api/exec.h"
#include "containers/map.h"
#include "containers/set.h"

namespace nosql_db {
namespace {

std::vector<int32_t> shuffled(int64_t n) {
  std::vector<int32_t> k(static_cast<size_t>(n));
  std::iota(k.begin(), k.end(), 0);
  std::shuffle(k.begin(), k.end(), std::mt19937(42));
  return k;
}

// Resident set size in bytes, from /proc/self/statm.
long rss_bytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4096;
}

// Hands every free heap page back to the system, so that growth measured
// from here is not hidden by memory that earlier benchmarks freed.
long rss_bytes_after_trim() {
  malloc_trim(0);
  return rss_bytes();
}

bool run(store& s, const char* line, int len) {
  datas d;
  return exec_cmd(s, line, len, &d);
}

// ---- insertion ----

void BM_ExecSetInsert(benchmark::State& st) {
  const auto keys = shuffled(st.range(0));
  for (auto _ : st) {
    st.PauseTiming();
    auto s = std::make_unique<store>();
    run(*s, "c set i32", 9);
    st.ResumeTiming();
    char line[32];
    for (int32_t k : keys) {
      const int len = std::snprintf(line, sizeof line, "i 0 %d", k);
      run(*s, line, len);
    }
    st.PauseTiming();
    s.reset();
    st.ResumeTiming();
  }
  st.SetItemsProcessed(st.iterations() * st.range(0));
}

void BM_StdSetInsert(benchmark::State& st) {
  const auto keys = shuffled(st.range(0));
  for (auto _ : st) {
    std::set<int32_t> s;
    for (int32_t k : keys) s.insert(k);
    benchmark::DoNotOptimize(s);
    st.PauseTiming();
    s.clear();
    st.ResumeTiming();
  }
  st.SetItemsProcessed(st.iterations() * st.range(0));
}

// Direct container calls, without the command path.
void BM_SetAdtInsert(benchmark::State& st) {
  const auto keys = shuffled(st.range(0));
  const uint8_t none = 0;
  for (auto _ : st) {
    auto s = std::make_unique<set_adt<int32_t>>(u08_desc);
    for (int32_t k : keys) s->ins_key(k, value_ref{scalar::u08, &none});
    st.PauseTiming();
    s.reset();
    st.ResumeTiming();
  }
  st.SetItemsProcessed(st.iterations() * st.range(0));
}

// ---- queries on a filled container (O(log n) evidence over sizes) ----

struct filled {
  set_adt<int32_t> s{u08_desc};
  std::set<int32_t> ref;
  explicit filled(int64_t n) {
    const uint8_t none = 0;
    for (int32_t k : shuffled(n)) {
      s.ins_key(k, value_ref{scalar::u08, &none});
      ref.insert(k);
    }
  }
};

void BM_SetRank(benchmark::State& st) {
  filled f(st.range(0));
  std::mt19937 rng(7);
  uint64_t r = 0;
  for (auto _ : st) {
    f.s.get_rank(static_cast<int32_t>(rng() % st.range(0)), &r);
    benchmark::DoNotOptimize(r);
  }
}
// std::set has no rank: the best standard equivalent is std::distance from
// begin() to find(), linear in the rank.
void BM_StdSetRank(benchmark::State& st) {
  filled f(st.range(0));
  std::mt19937 rng(7);
  for (auto _ : st) {
    auto d = std::distance(f.ref.begin(), f.ref.find(static_cast<int32_t>(rng() % st.range(0))));
    benchmark::DoNotOptimize(d);
  }
}

void BM_SetRange100(benchmark::State& st) {
  filled f(st.range(0));
  std::mt19937 rng(7);
  elem_array<int32_t> out;
  for (auto _ : st) {
    const auto a = static_cast<int32_t>(rng() % (st.range(0) - 100));
    f.s.get_le_ge(a, a + 99, &out);
    benchmark::DoNotOptimize(out.data());
  }
}
// lower_bound / upper_bound and a copy into a vector that keeps its storage.
void BM_StdSetRange100(benchmark::State& st) {
  filled f(st.range(0));
  std::mt19937 rng(7);
  std::vector<int32_t> out;
  for (auto _ : st) {
    const auto a = static_cast<int32_t>(rng() % (st.range(0) - 100));
    out.assign(f.ref.lower_bound(a), f.ref.upper_bound(a + 99));
    benchmark::DoNotOptimize(out.data());
  }
}

// Deletion by key, each key re-inserted so the size stays n; the same pair
// of operations on both sides.
void BM_SetDeleteInsert(benchmark::State& st) {
  filled f(st.range(0));
  std::mt19937 rng(7);
  const uint8_t none = 0;
  for (auto _ : st) {
    const auto k = static_cast<int32_t>(rng() % st.range(0));
    f.s.del_eq(k);
    f.s.ins_key(k, value_ref{scalar::u08, &none});
  }
}
void BM_StdSetDeleteInsert(benchmark::State& st) {
  filled f(st.range(0));
  std::mt19937 rng(7);
  for (auto _ : st) {
    const auto k = static_cast<int32_t>(rng() % st.range(0));
    f.ref.erase(k);
    f.ref.insert(k);
  }
}

// ---- memory per element (counter "bytes_per_elem") ----

void BM_MemSetI32(benchmark::State& st) {
  const auto keys = shuffled(st.range(0));
  const uint8_t none = 0;
  for (auto _ : st) {
    const long before = rss_bytes_after_trim();
    auto s = std::make_unique<set_adt<int32_t>>(u08_desc);
    for (int32_t k : keys) s->ins_key(k, value_ref{scalar::u08, &none});
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(keys.size());
  }
}
void BM_MemStdSetI32(benchmark::State& st) {
  const auto keys = shuffled(st.range(0));
  for (auto _ : st) {
    const long before = rss_bytes_after_trim();
    auto s = std::make_unique<std::set<int32_t>>();
    for (int32_t k : keys) s->insert(k);
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(keys.size());
  }
}
const char* const sixteen = "abcdefghijklmnop";
void BM_MemMapI32Str16(benchmark::State& st) {
  const auto keys = shuffled(st.range(0));
  const xstring v(sixteen, 16);
  for (auto _ : st) {
    const long before = rss_bytes_after_trim();
    auto m = std::make_unique<map_adt<int32_t, xstring>>();
    for (int32_t k : keys) m->ins_key(k, value_ref{scalar::string, &v});
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(keys.size());
  }
}
void BM_MemStdMapI32Str16(benchmark::State& st) {
  const auto keys = shuffled(st.range(0));
  const std::string v(sixteen, 16);
  for (auto _ : st) {
    const long before = rss_bytes_after_trim();
    auto m = std::make_unique<std::map<int32_t, std::string>>();
    for (int32_t k : keys) m->emplace(k, v);
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(keys.size());
  }
}

BENCHMARK(BM_ExecSetInsert)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StdSetInsert)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SetAdtInsert)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SetRank)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_StdSetRank)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_SetRange100)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_StdSetRange100)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_SetDeleteInsert)->Arg(10000)->Arg(100000)->Arg(1000000);
BENCHMARK(BM_StdSetDeleteInsert)->Arg(10000)->Arg(100000)->Arg(1000000);
// Memory runs: each measures growth from a trimmed heap and frees
// everything at the end.
BENCHMARK(BM_MemSetI32)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_MemStdSetI32)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_MemMapI32Str16)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_MemStdMapI32Str16)->Arg(1000000)->Iterations(1);

}  // namespace
}  // namespace nosql_db

BENCHMARK_MAIN();
