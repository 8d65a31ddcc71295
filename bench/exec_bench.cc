// Round trips through exec against the same work on a bare std::vector,
// tokenizer throughput, and the cost of loading the library.
//
// Read the ratios, not the absolute times: each exec benchmark has a
// baseline next to it in the same run.
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>

#include "api/exec.h"
#include "api/vox_nosql.h"
#include "lang/tokenizer.h"

namespace {

constexpr int64_t filled = 100000;

// A vector of `filled` i64 in the library's own store; returns its vkey.
std::string make_vector() {
  static int serial = 0;
  const std::string name = "bench" + std::to_string(serial++);
  const std::string create = "c vector i64 \"" + name + "\"";
  datas* d = exec(create.data(), static_cast<int32_t>(create.size()));
  const uint64_t vkey = as_uint64(at(0, 0, d));
  del_datas(d);
  for (int64_t i = 0; i < filled; ++i) {
    const std::string line = "i " + std::to_string(vkey) + " last " + std::to_string(i);
    del_datas(exec(line.data(), static_cast<int32_t>(line.size())));
  }
  return std::to_string(vkey);
}

void run_line(const std::string& line) {
  datas* d = exec(line.data(), static_cast<int32_t>(line.size()));
  if (!d) std::abort();
  benchmark::DoNotOptimize(d);
  del_datas(d);
}

void BM_exec_get_nth(benchmark::State& st) {
  const std::string v = make_vector();
  int64_t i = 0;
  char line[64];
  for (auto _ : st) {
    const int n = std::snprintf(line, sizeof line, "g %s nth %lld", v.c_str(), static_cast<long long>(i % filled + 1));
    datas* d = exec(line, n);
    benchmark::DoNotOptimize(as_int64(at(0, 0, d)));
    del_datas(d);
    ++i;
  }
}
BENCHMARK(BM_exec_get_nth);

void BM_std_vector_nth(benchmark::State& st) {
  std::vector<int64_t> v(filled);
  for (int64_t i = 0; i < filled; ++i) v[i] = i;
  int64_t i = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(v[i % filled]);
    ++i;
  }
}
BENCHMARK(BM_std_vector_nth);

void BM_exec_insert_last(benchmark::State& st) {
  const std::string create = "c vector i64";
  datas* d = exec(create.data(), static_cast<int32_t>(create.size()));
  const uint64_t vkey = as_uint64(at(0, 0, d));
  del_datas(d);
  char line[64];
  int64_t i = 0;
  for (auto _ : st) {
    const int n = std::snprintf(line, sizeof line, "i %llu last %lld", static_cast<unsigned long long>(vkey),
                                static_cast<long long>(i++));
    datas* r = exec(line, n);
    benchmark::DoNotOptimize(r);
    del_datas(r);
  }
  const std::string erase = "e " + std::to_string(vkey);
  run_line(erase);
}
BENCHMARK(BM_exec_insert_last);

void BM_std_vector_push_back(benchmark::State& st) {
  std::vector<int64_t> v;
  int64_t i = 0;
  for (auto _ : st) {
    v.push_back(i++);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_std_vector_push_back);

void BM_exec_count(benchmark::State& st) {
  const std::string line = "g " + make_vector() + " count";
  for (auto _ : st) run_line(line);
}
BENCHMARK(BM_exec_count);

void BM_std_vector_size(benchmark::State& st) {
  std::vector<int64_t> v(filled);
  for (auto _ : st) {
    benchmark::DoNotOptimize(v.data());
    benchmark::DoNotOptimize(v.size());
  }
}
BENCHMARK(BM_std_vector_size);

void BM_exec_describe_one(benchmark::State& st) {
  const std::string line = "k " + make_vector();
  for (auto _ : st) run_line(line);
}
BENCHMARK(BM_exec_describe_one);

void BM_tokenizer(benchmark::State& st) {
  const std::string line = "i \"a named container\" nth 12345 \"some \\u00e9scaped text\"";
  for (auto _ : st) {
    nosql_db::token t[nosql_db::max_tokens];
    benchmark::DoNotOptimize(nosql_db::split_tokens(line.data(), static_cast<int64_t>(line.size()), t));
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * line.size()));
}
BENCHMARK(BM_tokenizer);

long rss_kib() {
  long pages = 0, resident = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Loads the shared library in a fresh child process (its banner silenced)
// and reports the time dlopen took and how much the process grew.
void BM_library_load(benchmark::State& st) {
  double worst_rss = 0;
  for (auto _ : st) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      const int null_fd = open("/dev/null", O_WRONLY);
      dup2(null_fd, STDOUT_FILENO);
      const int tmp = open("/tmp", O_RDONLY | O_DIRECTORY);
      if (tmp >= 0 && fchdir(tmp) != 0) _exit(2);  // no init.nos there
      const long before = rss_kib();
      const auto t0 = std::chrono::steady_clock::now();
      void* h = dlopen(NOSQL_LIB_PATH, RTLD_NOW | RTLD_LOCAL);
      const auto t1 = std::chrono::steady_clock::now();
      const long after = rss_kib();
      double out[2] = {std::chrono::duration<double>(t1 - t0).count(), static_cast<double>(after - before)};
      if (!h) out[0] = -1;
      if (write(fds[1], out, sizeof out) != sizeof out) _exit(3);
      _exit(0);
    }
    close(fds[1]);
    double in[2] = {-1, 0};
    if (read(fds[0], in, sizeof in) != sizeof in || in[0] < 0) {
      st.SkipWithError("child failed to load the library");
    }
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    st.SetIterationTime(in[0]);
    if (in[1] > worst_rss) worst_rss = in[1];
  }
  st.counters["rss_growth_MiB"] = worst_rss / 1024.0;
}
BENCHMARK(BM_library_load)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
