// Hashmap and trie against the standard containers doing the same work in
// the same run.
//
// Time: hashmap get/insert through exec_cmd (the whole command path) and at
// the container interface, for tables of 1,000 and 1,000,000 slots, against
// std::unordered_map; trie insertion and lookup of 1,000,000 generated words
// against std::set<std::string>.
// Memory: resident-set growth measured in a fresh process (so that earlier
// benchmarks' freed heap does not hide anything), reported as counters:
// bytes for a hashmap of 1,000,000 slots empty and full, and bytes per
// stored word for trie and set.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "api/exec.h"
#include "containers/hashed/hashmap.h"
#include "containers/trie/trie.h"

namespace nosql_db {
namespace {

int64_t rss_bytes() {
  long pages = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(f);
  return static_cast<int64_t>(resident) * sysconf(_SC_PAGESIZE);
}

struct figures {
  double a = -1, b = -1;
};

// Memory is measured in a fresh process (this program run again with
// "--measure NAME FD"), so that heap freed by earlier benchmarks cannot be
// reused and hide the growth. The child writes its two figures to FD.
figures in_fresh_process(const char* name) {
  int fds[2];
  if (pipe(fds) != 0) return figures();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execl("/proc/self/exe", "hash_trie_bench", "--measure", name, fd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  figures v;
  if (read(fds[0], &v, sizeof v) != sizeof v) v = figures();
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return v;
}

bool run(store& s, const std::string& line, datas* d) {
  *d = datas();
  return exec_cmd(s, line.data(), static_cast<int64_t>(line.size()), d);
}

// Keys spread over the table in a fixed pseudo-random order.
std::vector<uint32_t> keys_for(uint64_t n) {
  std::vector<uint32_t> k(n);
  for (uint64_t i = 0; i < n; ++i) k[i] = static_cast<uint32_t>(i);
  std::shuffle(k.begin(), k.end(), std::mt19937(1));
  return k;
}

// ---- hashmap: single-key operations ----

void BM_hashmap_exec_get(benchmark::State& st) {
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  store s;
  datas d;
  run(s, "c hashmap u32 u32 " + std::to_string(n), &d);
  const auto keys = keys_for(n);
  for (uint32_t k : keys) run(s, "i 0 " + std::to_string(k) + " " + std::to_string(k), &d);
  std::vector<std::string> lines;
  for (uint64_t i = 0; i < 4096; ++i) lines.push_back("g 0 value " + std::to_string(keys[i % n]));
  uint64_t i = 0;
  for (auto _ : st) {
    const std::string& l = lines[i++ & 4095];
    benchmark::DoNotOptimize(exec_cmd(s, l.data(), static_cast<int64_t>(l.size()), &d));
    d.cols.clear();
  }
}
BENCHMARK(BM_hashmap_exec_get)->Arg(1000)->Arg(1000000);

void BM_unordered_map_get_text_key(benchmark::State& st) {
  // Baseline for the command path: the same lookup, with the key parsed from
  // the same text.
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  std::unordered_map<uint32_t, uint32_t> m;
  const auto keys = keys_for(n);
  for (uint32_t k : keys) m.emplace(k, k);
  std::vector<std::string> texts;
  for (uint64_t i = 0; i < 4096; ++i) texts.push_back(std::to_string(keys[i % n]));
  uint64_t i = 0;
  for (auto _ : st) {
    const uint32_t k = static_cast<uint32_t>(std::stoul(texts[i++ & 4095]));
    benchmark::DoNotOptimize(m.find(k)->second);
  }
}
BENCHMARK(BM_unordered_map_get_text_key)->Arg(1000)->Arg(1000000);

void BM_hashmap_exec_insert_delete(benchmark::State& st) {
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  store s;
  datas d;
  run(s, "c hashmap u32 u32 " + std::to_string(n), &d);
  const auto keys = keys_for(n);
  std::vector<std::string> ins, del;
  for (uint64_t i = 0; i < 4096; ++i) {
    ins.push_back("i 0 " + std::to_string(keys[i % n]) + " 7");
    del.push_back("d 0 equal " + std::to_string(keys[i % n]));
  }
  uint64_t i = 0;
  for (auto _ : st) {
    const uint64_t j = i++ & 4095;
    benchmark::DoNotOptimize(exec_cmd(s, ins[j].data(), static_cast<int64_t>(ins[j].size()), &d));
    benchmark::DoNotOptimize(exec_cmd(s, del[j].data(), static_cast<int64_t>(del[j].size()), &d));
  }
}
BENCHMARK(BM_hashmap_exec_insert_delete)->Arg(1000)->Arg(1000000);

void BM_hashmap_get_value(benchmark::State& st) {
  // The container alone, without the command path.
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  hm_adt<uint32_t, uint32_t> m(n);
  const auto keys = keys_for(n);
  for (uint32_t k : keys) m.ins_key(k, {scalar::u32, &k});
  elem_array<uint32_t> out;
  out.reserve(1);
  uint64_t i = 0;
  for (auto _ : st) {
    out.clear();
    benchmark::DoNotOptimize(m.get_value(keys[i++ % n], {scalar::u32, &out}));
  }
}
BENCHMARK(BM_hashmap_get_value)->Arg(1000)->Arg(1000000);

void BM_unordered_map_get(benchmark::State& st) {
  const uint64_t n = static_cast<uint64_t>(st.range(0));
  std::unordered_map<uint32_t, uint32_t> m;
  const auto keys = keys_for(n);
  for (uint32_t k : keys) m.emplace(k, k);
  uint64_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(m.find(keys[i++ % n])->second);
}
BENCHMARK(BM_unordered_map_get)->Arg(1000)->Arg(1000000);

// ---- trie: 1,000,000 generated words ----

constexpr uint64_t word_count = 1000000;

// Lowercase words of 5 to 10 letters; a quarter start with a capital.
const std::vector<std::string>& words() {
  static const std::vector<std::string> w = [] {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> len(5, 10), letter(0, 25), cap(0, 3);
    std::vector<std::string> out(word_count);
    for (auto& s : out) {
      s.resize(static_cast<size_t>(len(rng)));
      for (auto& c : s) c = static_cast<char>('a' + letter(rng));
      if (cap(rng) == 0) s[0] = static_cast<char>(s[0] - 32);
    }
    return out;
  }();
  return w;
}
const std::vector<xstring>& xwords() {
  static const std::vector<xstring> w = [] {
    std::vector<xstring> out;
    out.reserve(word_count);
    for (const auto& s : words()) out.emplace_back(s);
    return out;
  }();
  return w;
}

const uint8_t no_value = 0;

void fill_trie(trie_adt& t) {
  for (const xstring& w : xwords()) t.ins_key(w, {scalar::u08, &no_value});
}

void BM_trie_insert_1m(benchmark::State& st) {
  xwords();
  for (auto _ : st) {
    trie_adt t(scalar::string, scalar::u08);
    fill_trie(t);
    benchmark::DoNotOptimize(t.size());
  }
  st.SetItemsProcessed(st.iterations() * static_cast<int64_t>(word_count));
}
BENCHMARK(BM_trie_insert_1m)->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_set_insert_1m(benchmark::State& st) {
  words();
  for (auto _ : st) {
    std::set<std::string> s;
    for (const auto& w : words()) s.insert(w);
    benchmark::DoNotOptimize(s.size());
  }
  st.SetItemsProcessed(st.iterations() * static_cast<int64_t>(word_count));
}
BENCHMARK(BM_set_insert_1m)->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_trie_contains(benchmark::State& st) {
  trie_adt t(scalar::string, scalar::u08);
  fill_trie(t);
  uint64_t i = 0;
  bool b;
  for (auto _ : st) {
    t.get_contains(xwords()[i++ % word_count], &b);
    benchmark::DoNotOptimize(b);
  }
}
BENCHMARK(BM_trie_contains);

void BM_trie_contains_nocase(benchmark::State& st) {
  trie_adt t(scalar::string, scalar::u08);
  fill_trie(t);
  uint64_t i = 0;
  bool b;
  for (auto _ : st) {
    t.get_contains_nocase(xwords()[i++ % word_count], &b);
    benchmark::DoNotOptimize(b);
  }
}
BENCHMARK(BM_trie_contains_nocase);

void BM_set_contains(benchmark::State& st) {
  std::set<std::string> s(words().begin(), words().end());
  uint64_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(s.count(words()[i++ % word_count]));
}
BENCHMARK(BM_set_contains);

// ---- memory, each measured in a fresh process ----

// Growth of the resident set: a = after creating (or the stored count),
// b = after filling.
figures measure_hashmap() {
  store s;
  datas d;
  const int64_t before = rss_bytes();
  run(s, "c hashmap u32 u32 1000000", &d);
  const int64_t created = rss_bytes();
  auto& m = static_cast<adt<uint32_t>&>(*s.at(0));
  for (uint32_t k = 0; k < 1000000; ++k) m.ins_key(k, {scalar::u32, &k});
  return {static_cast<double>(created - before), static_cast<double>(rss_bytes() - before)};
}
figures measure_unordered_map() {
  const int64_t before = rss_bytes();
  std::unordered_map<uint32_t, uint32_t> m;
  for (uint32_t k = 0; k < 1000000; ++k) m.emplace(k, k);
  return {static_cast<double>(m.size()), static_cast<double>(rss_bytes() - before)};
}
figures measure_trie() {
  xwords();
  const int64_t before = rss_bytes();
  trie_adt t(scalar::string, scalar::u08);
  fill_trie(t);
  return {static_cast<double>(t.size()), static_cast<double>(rss_bytes() - before)};
}
figures measure_set() {
  words();
  const int64_t before = rss_bytes();
  std::set<std::string> s(words().begin(), words().end());
  return {static_cast<double>(s.size()), static_cast<double>(rss_bytes() - before)};
}

struct measure {
  const char* name;
  figures (*run)();
};
constexpr measure measures[] = {
    {"hashmap", measure_hashmap},
    {"unordered_map", measure_unordered_map},
    {"trie", measure_trie},
    {"set", measure_set},
};

void BM_memory_hashmap_1m(benchmark::State& st) {
  figures f;
  for (auto _ : st) f = in_fresh_process("hashmap");
  st.counters["rss_empty_bytes"] = f.a;
  st.counters["rss_full_bytes"] = f.b;
  st.counters["bytes_per_key"] = f.b / 1e6;
}
BENCHMARK(BM_memory_hashmap_1m)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_memory_unordered_map_1m(benchmark::State& st) {
  figures f;
  for (auto _ : st) f = in_fresh_process("unordered_map");
  st.counters["rss_full_bytes"] = f.b;
  st.counters["bytes_per_key"] = f.b / f.a;
}
BENCHMARK(BM_memory_unordered_map_1m)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_memory_trie_1m(benchmark::State& st) {
  figures f;
  for (auto _ : st) f = in_fresh_process("trie");
  st.counters["stored"] = f.a;
  st.counters["rss_bytes"] = f.b;
  st.counters["bytes_per_string"] = f.b / f.a;
}
BENCHMARK(BM_memory_trie_1m)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_memory_set_1m(benchmark::State& st) {
  figures f;
  for (auto _ : st) f = in_fresh_process("set");
  st.counters["stored"] = f.a;
  st.counters["rss_bytes"] = f.b;
  st.counters["bytes_per_string"] = f.b / f.a;
}
BENCHMARK(BM_memory_set_1m)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nosql_db

int main(int argc, char** argv) {
  if (argc == 4 && std::string_view(argv[1]) == "--measure") {
    for (const auto& m : nosql_db::measures) {
      if (std::string_view(argv[2]) != m.name) continue;
      const nosql_db::figures f = m.run();
      // _exit: skip the library's exit message in the child.
      _exit(write(std::atoi(argv[3]), &f, sizeof f) == sizeof f ? 0 : 1);
    }
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
