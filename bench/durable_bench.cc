// What durable mode costs, each figure a ratio within one run:
//
//  - inserts (`i S K`, random i64 keys, through the dispatcher as exec
//    runs them) into a store journaling with sync none, against the same
//    inserts into a store without a journal, in alternating batches;
//  - inserts per second with sync always from 4 threads against 1 (the
//    threads share their fdatasyncs);
//  - writers' 99th-percentile latency while a dump of 1,000,000 elements
//    runs, against their 99th percentile without it (2 writer threads on
//    containers of their own);
//  - recovery: journal records replayed per second, for 1,000,000 inserts.
//
// The journal lives under the build directory's temporary area
// (TMPDIR or /tmp): a real disk here, as a host's would be.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "api/durable.h"
#include "api/exec.h"

namespace {

using namespace nosql_db;
using clock_type = std::chrono::steady_clock;

std::string scratch_dir() {
  const char* t = std::getenv("TMPDIR");
  std::string d = std::string(t && *t ? t : "/tmp") + "/vox_durable_bench_XXXXXX";
  if (!::mkdtemp(d.data())) std::abort();
  return d;
}

bool run(store& s, const char* line, int len) {
  datas d;
  return exec_cmd(s, line, len, &d);
}
void must(store& s, const std::string& line) {
  if (!run(s, line.data(), static_cast<int>(line.size()))) {
    std::fprintf(stderr, "command failed: %s\n", line.c_str());
    std::abort();
  }
}

struct scratch {
  std::string dir = scratch_dir();
  ~scratch() { std::filesystem::remove_all(dir); }
};

// ---- sync none against no journal ----

void BM_InsertJournaledNone(benchmark::State& st) {
  scratch sc;
  store plain, durable;
  must(plain, "c set i64 s");
  must(durable, "c set i64 s");
  if (durable_open(durable, (sc.dir + "/store").c_str(), 0) != 0) std::abort();
  std::mt19937_64 rng(5);
  constexpr int batch = 2500;
  double ns[2] = {0, 0};
  uint64_t ops = 0;
  char line[64];
  for (auto _ : st) {
    store* sides[2] = {&plain, &durable};
    for (int side = 0; side < 2; ++side) {
      std::mt19937_64 keys(rng());  // the same keys for both sides
      const auto t0 = clock_type::now();
      for (int i = 0; i < batch; ++i)
        run(*sides[side], line, std::snprintf(line, sizeof line, "i 0 %lld", static_cast<long long>(keys() >> 1)));
      ns[side] += std::chrono::duration<double, std::nano>(clock_type::now() - t0).count();
    }
    ops += batch;
  }
  durable_close(durable);
  st.counters["plain_ns"] = ns[0] / ops;
  st.counters["journaled_ns"] = ns[1] / ops;
  st.counters["x_plain"] = ns[1] / ns[0];
}

// ---- sync always: group commit from 4 threads against 1 ----

double inserts_per_second(store& s, int threads, double seconds) {
  std::atomic<uint64_t> done{0};
  const auto until = clock_type::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> ts;
  const auto start = clock_type::now();
  for (int t = 0; t < threads; ++t) {
    ts.emplace_back([&, t] {
      std::mt19937_64 keys(static_cast<uint64_t>(t) * 7919 + static_cast<uint64_t>(start.time_since_epoch().count()));
      char line[64];
      uint64_t n = 0;
      while (clock_type::now() < until) {
        run(s, line, std::snprintf(line, sizeof line, "i 0 %lld", static_cast<long long>(keys() >> 1)));
        ++n;
      }
      done += n;
    });
  }
  for (auto& t : ts) t.join();
  return static_cast<double>(done.load()) / std::chrono::duration<double>(clock_type::now() - start).count();
}

void BM_InsertSyncAlwaysThreads(benchmark::State& st) {
  scratch sc;
  store s;
  must(s, "c set i64 s");
  if (durable_open(s, (sc.dir + "/store").c_str(), 2) != 0) std::abort();
  double one = 0, four = 0;
  for (auto _ : st) {
    // Short spells, alternating, so that the disk's drifts fall on both.
    for (int spell = 0; spell < 5; ++spell) {
      one += inserts_per_second(s, 1, 0.4);
      four += inserts_per_second(s, 4, 0.4);
    }
  }
  durable_close(s);
  st.counters["one_thread_per_s"] = one / 5;
  st.counters["four_threads_per_s"] = four / 5;
  st.counters["scaling"] = four / one;
}

// ---- writers' latency while a dump runs ----

// Runs 2 writers on containers of their own while `meanwhile` runs on
// this thread; their 99th-percentile latency (ns) over the commands that
// began while it ran.
template <class F>
double writers_p99(store& s, F&& meanwhile) {
  std::atomic<bool> stop{false}, measuring{false};
  std::vector<std::vector<uint32_t>> lat(2);
  std::vector<std::thread> ts;
  for (int w = 0; w < 2; ++w) {
    ts.emplace_back([&, w] {
      std::mt19937_64 keys(static_cast<uint64_t>(w) + 99);
      char line[64];
      lat[w].reserve(1 << 22);
      while (!stop) {
        const bool counted = measuring;
        const auto t0 = clock_type::now();
        run(s, line, std::snprintf(line, sizeof line, "i %d %lld", w + 1, static_cast<long long>(keys() >> 1)));
        const auto ns = std::chrono::duration<double, std::nano>(clock_type::now() - t0).count();
        if (counted) lat[w].push_back(static_cast<uint32_t>(ns));
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the writers under way
  measuring = true;
  meanwhile();
  measuring = false;
  stop = true;
  for (auto& t : ts) t.join();
  std::vector<uint32_t> all;
  for (auto& l : lat) all.insert(all.end(), l.begin(), l.end());
  if (all.empty()) return 0;
  std::nth_element(all.begin(), all.begin() + static_cast<long>(all.size() * 99 / 100), all.end());
  return all[all.size() * 99 / 100];
}

void BM_WritersDuringADump(benchmark::State& st) {
  scratch sc;
  store s;
  must(s, "c vector i64 big");
  for (int i = 0; i < 1000000; ++i) must(s, "i 0 last " + std::to_string(i));
  must(s, "c set i64 w1");
  must(s, "c set i64 w2");
  double quiet = 0, dumping = 0, dump_ms = 0;
  int n = 0;
  for (auto _ : st) {
    double took = 0;
    dumping += writers_p99(s, [&] {
      const std::string path = sc.dir + "/d" + std::to_string(n);
      const auto t0 = clock_type::now();
      must(s, "b " + path);
      took = std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
      std::filesystem::remove(path);
    });
    // As long again without a dump.
    quiet += writers_p99(s, [&] { std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(took)); });
    dump_ms += took;
    ++n;
  }
  st.counters["p99_quiet_ns"] = quiet / n;
  st.counters["p99_during_dump_ns"] = dumping / n;
  st.counters["x_quiet"] = dumping / quiet;
  st.counters["dump_ms"] = dump_ms / n;
}

// ---- recovery ----

void BM_Recovery(benchmark::State& st) {
  scratch sc;
  const std::string dir = sc.dir + "/store";
  const int64_t n = st.range(0);
  {
    store s;
    if (durable_open(s, dir.c_str(), 0) != 0) std::abort();
    must(s, "c set i64 s");
    std::mt19937_64 keys(3);
    char line[64];
    for (int64_t i = 0; i < n; ++i)
      run(s, line, std::snprintf(line, sizeof line, "i 0 %lld", static_cast<long long>(keys() >> 1)));
    durable_close(s);
  }
  double seconds = 0;
  int runs = 0;
  for (auto _ : st) {
    store s;
    const auto t0 = clock_type::now();
    if (durable_open(s, dir.c_str(), 0) != 0) std::abort();
    seconds += std::chrono::duration<double>(clock_type::now() - t0).count();
    durable_close(s);
    ++runs;
  }
  st.counters["records_per_s"] = static_cast<double>(n) * runs / seconds;
}

BENCHMARK(BM_InsertJournaledNone)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_InsertSyncAlwaysThreads)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritersDuringADump)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Recovery)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
