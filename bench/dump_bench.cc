// Dump and read throughput against baselines doing the same work in the
// same run:
//   dump  vs  writing the same number of bytes with fwrite (with and without
//             the fsync that a dump does before naming its file);
//   read  vs  rebuilding the same containers through their own insertion
//             operations, straight from memory;
//   and, for the tree kinds, dump vs walking a std::set / std::map with the
//   same keys in order and encoding every element into a buffer: the floor
//   for any writer of a node-based container.
// Workloads: a vector of 10,000,000 i64; a set of 1,000,000 i32 keys and a
// map of 1,000,000 i32 -> 16-byte strings when those kinds exist (skipped
// when "c set i32" fails).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "api/exec.h"
#include "lang/result_set.h"
#include "catalog/store.h"

using namespace nosql_db;

namespace {

bool run(store& s, const std::string& line) {
  datas d;
  return exec_cmd(s, line.data(), static_cast<int64_t>(line.size()), &d);
}

const std::string& bench_dir() {
  static const std::string dir = [] {
    std::string t = (std::filesystem::temp_directory_path() / "dump_bench_XXXXXX").string();
    if (!::mkdtemp(t.data())) std::abort();
    return t;
  }();
  return dir;
}
std::string fresh_path() {
  static int n = 0;
  return bench_dir() + "/f" + std::to_string(n++);
}

// One workload: how to create and fill its containers (through their own
// insertion operations), built once and dumped once.
struct workload {
  std::string name;
  std::function<void(store&)> build;
  std::unique_ptr<store> s;
  std::string dump;  // a dump of s
  uint64_t bytes = 0;

  workload(std::string n, std::function<void(store&)> b) : name(std::move(n)), build(std::move(b)) {}

  void ensure() {
    if (s) return;
    s = std::make_unique<store>();
    build(*s);
    dump = fresh_path();
    if (!run(*s, "b " + dump)) std::abort();
    bytes = std::filesystem::file_size(dump);
  }
};

void fill_vector(store& s) {
  if (!run(s, "c vector i64 v")) std::abort();
  auto* v = static_cast<adt<int64_t>*>(s.at(0));
  for (int64_t i = 0; i < 10'000'000; ++i) v->ins_last(i * 7919);
}

void fill_set(store& s) {
  if (!run(s, "c set i32 keys")) std::abort();
  auto* c = static_cast<adt<int32_t>*>(s.at(0));
  const uint8_t none = 0;
  // A scattered but repeatable key order.
  for (uint32_t i = 0; i < 1'000'000; ++i) c->ins_key(static_cast<int32_t>(i * 2654435761u), {scalar::u08, &none});
}

void fill_map(store& s) {
  if (!run(s, "c map i32 string m")) std::abort();
  auto* c = static_cast<adt<int32_t>*>(s.at(0));
  xstring value;
  for (uint32_t i = 0; i < 1'000'000; ++i) {
    char text[17];
    std::snprintf(text, sizeof text, "value-%010u", i);
    value.assign(text, 16);
    c->ins_key(static_cast<int32_t>(i * 2654435761u), {scalar::string, &value});
  }
}

void dump_bm(benchmark::State& state, workload* w) {
  w->ensure();
  for (auto _ : state) {
    const std::string p = fresh_path();
    if (!run(*w->s, "b " + p)) state.SkipWithError("dump failed");
    state.PauseTiming();
    std::filesystem::remove(p);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->bytes));
}

// The same number of bytes through stdio; with_sync adds the fsync that the
// dump does before it names its file.
void fwrite_bm(benchmark::State& state, workload* w, bool with_sync) {
  w->ensure();
  std::vector<char> buf(w->bytes, 'x');
  for (auto _ : state) {
    const std::string p = fresh_path();
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) state.SkipWithError("fopen failed");
    // Chunks of 64 KiB, the way a streaming writer hands them over.
    for (uint64_t off = 0; off < buf.size(); off += 65536)
      std::fwrite(buf.data() + off, 1, std::min<uint64_t>(65536, buf.size() - off), f);
    std::fflush(f);
    if (with_sync) ::fsync(fileno(f));
    std::fclose(f);
    state.PauseTiming();
    std::filesystem::remove(p);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->bytes));
}

void read_bm(benchmark::State& state, workload* w) {
  w->ensure();
  store s;
  for (auto _ : state) {
    if (!run(s, "r " + w->dump)) state.SkipWithError("read failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->bytes));
}

// The read's counterpart: drop the old contents and build the same
// containers through their insertion operations.
void rebuild_bm(benchmark::State& state, workload* w) {
  w->ensure();
  store s;
  for (auto _ : state) {
    run(s, "clear");
    w->build(s);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * w->bytes));
}

// std::set / std::map built in the same key order as fill_set / fill_map,
// walked in order with each element encoded into memory.
void std_walk_bm(benchmark::State& state, bool with_values) {
  std::set<int32_t> keys;
  std::map<int32_t, std::string> entries;
  for (uint32_t i = 0; i < 1'000'000; ++i) {
    const auto k = static_cast<int32_t>(i * 2654435761u);
    if (with_values) {
      char text[17];
      std::snprintf(text, sizeof text, "value-%010u", i);
      entries.emplace(k, std::string(text, 16));
    } else {
      keys.insert(k);
    }
  }
  std::vector<char> buf(32u << 20);
  for (auto _ : state) {
    char* p = buf.data();
    if (with_values) {
      for (const auto& [k, v] : entries) {
        const uint64_t n = v.size();
        std::memcpy(p, &k, 4);
        std::memcpy(p + 4, &n, 8);
        std::memcpy(p + 12, v.data(), n);
        p += 12 + n;
      }
    } else {
      for (const int32_t k : keys) {
        std::memcpy(p, &k, 4);
        p += 4;
      }
    }
    benchmark::DoNotOptimize(p);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  static std::vector<workload> workloads;
  workloads.reserve(3);
  workloads.emplace_back("vector_i64_10M", fill_vector);
  {
    store probe;
    if (run(probe, "c set i32") && run(probe, "c map i32 string")) {
      workloads.emplace_back("set_i32_1M", fill_set);
      workloads.emplace_back("map_i32_str16_1M", fill_map);
    } else {
      std::fprintf(stderr, "set/map kinds not available: their parts are skipped\n");
    }
  }
  for (workload& w : workloads) {
    benchmark::RegisterBenchmark(("dump/" + w.name).c_str(), dump_bm, &w)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("fwrite_baseline/" + w.name).c_str(), fwrite_bm, &w, false)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("fwrite_fsync_baseline/" + w.name).c_str(), fwrite_bm, &w, true)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("read/" + w.name).c_str(), read_bm, &w)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark(("rebuild_baseline/" + w.name).c_str(), rebuild_bm, &w)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    if (w.name != "vector_i64_10M") {
      benchmark::RegisterBenchmark(("std_walk_baseline/" + w.name).c_str(), std_walk_bm, w.name[0] == 'm')
          ->Unit(benchmark::kMillisecond)->UseRealTime();
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  workloads.clear();
  std::filesystem::remove_all(bench_dir());
  return 0;
}
