// What recording failure reasons costs a command that succeeds: `g "s"
// count` and `i "v" last 5` through exec, in the library as built and in
// the same library built with the reasons compiled out
// (NOSQL_NO_FAILURE_REASONS, target vox_nosql_no_reasons). Both are loaded
// side by side into this process, each with its own store, and measured in
// one run:
//
//   ninja -C build vox_nosql_lib_local_mem vox_nosql_no_reasons reason_bench
//   build/bench/reason_bench
//
// Each pair of libraries runs the command in alternating batches, and the
// counter diff_ns is the median cost per command of the later one over the
// earlier one. VOX_BENCH_LIBS="label=path,label=path,..." compares other
// builds instead (an older library, for example).
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct datas;
using exec_fn = datas* (*)(const char*, int32_t);
using del_fn = void (*)(datas*);

struct library {
  std::string label;
  exec_fn exec = nullptr;
  del_fn del = nullptr;
};

void must(library& l, const std::string& line) {
  datas* d = l.exec(line.data(), static_cast<int32_t>(line.size()));
  if (!d) {
    std::fprintf(stderr, "%s: command failed: %s\n", l.label.c_str(), line.c_str());
    std::exit(1);
  }
  l.del(d);
}

// Loads a library in a scratch directory (no init.nos there), its banner
// kept off standard output.
library load(const std::string& label, const std::string& path) {
  library l{label};
  char dir[] = "/tmp/vox_reason_bench_XXXXXX";
  char cwd[4096];
  if (!mkdtemp(dir) || !getcwd(cwd, sizeof cwd) || chdir(dir) != 0) std::abort();
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, STDOUT_FILENO);
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(null_fd);
  if (chdir(cwd) != 0 || rmdir(dir) != 0) std::abort();
  if (!h) {
    std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    std::exit(1);
  }
  l.exec = reinterpret_cast<exec_fn>(dlsym(h, "exec"));
  l.del = reinterpret_cast<del_fn>(dlsym(h, "del_datas"));
  if (!l.exec || !l.del) std::abort();
  must(l, "c set i32 s");
  for (int i = 0; i < 1000; ++i) must(l, "i \"s\" " + std::to_string(i));
  return l;
}

using clock_type = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// One command on two libraries, in batches that alternate between them
// (and alternate which goes first). Noise on a shared machine comes and
// goes over milliseconds and hits neighbouring batches alike, so the median
// of the per-batch differences shows the cost of one library over the
// other that a comparison of two separate runs would drown.
//   base_ns, this_ns: median time of one command on each library;
//   diff_ns: median of (this - base) over pairs of neighbouring batches.
void BM_paired(benchmark::State& st, library* base, library* self, std::string line) {
  constexpr int batch = 200;
  const bool insert = line[0] == 'i';
  if (insert) {
    must(*base, "c vector i08 v");  // fresh vectors for every run
    must(*self, "c vector i08 v");
  }
  std::vector<double> tb, ts, diff;
  bool base_first = true;
  for (auto _ : st) {
    double ns[2];
    for (int k = 0; k < 2; ++k) {
      library* l = (k == 0) == base_first ? base : self;
      const auto t0 = clock_type::now();
      for (int i = 0; i < batch; ++i) {
        datas* d = l->exec(line.data(), static_cast<int32_t>(line.size()));
        benchmark::DoNotOptimize(d);
        l->del(d);
      }
      ns[l == self] = std::chrono::duration<double, std::nano>(clock_type::now() - t0).count() / batch;
    }
    tb.push_back(ns[0]);
    ts.push_back(ns[1]);
    diff.push_back(ns[1] - ns[0]);
    base_first = !base_first;
  }
  if (insert) {
    must(*base, "e \"v\"");
    must(*self, "e \"v\"");
  }
  st.counters["base_ns"] = median(tb);
  st.counters["this_ns"] = median(ts);
  st.counters["diff_ns"] = median(diff);
}

}  // namespace

int main(int argc, char** argv) {
  std::string wanted = std::string("without_reasons=") + NOSQL_NO_REASONS_LIB_PATH + ",with_reasons=" + NOSQL_LIB_PATH;
  if (const char* e = std::getenv("VOX_BENCH_LIBS")) wanted = e;
  std::vector<library*> libs;
  for (size_t pos = 0; pos < wanted.size();) {
    size_t end = wanted.find(',', pos);
    if (end == std::string::npos) end = wanted.size();
    const std::string item = wanted.substr(pos, end - pos);
    const size_t eq = item.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr, "VOX_BENCH_LIBS: expected label=path, got %s\n", item.c_str());
      return 1;
    }
    libs.push_back(new library(load(item.substr(0, eq), item.substr(eq + 1))));
    pos = end + 1;
  }
  // Every library against every one before it in the list.
  for (size_t j = 1; j < libs.size(); ++j) {
    for (size_t i = 0; i < j; ++i) {
      const std::string pair = libs[j]->label + "_vs_" + libs[i]->label;
      for (const char* line : {"g \"s\" count", "i \"v\" last 5"}) {
        const std::string name = std::string(line[0] == 'g' ? "BM_exec_get_count/" : "BM_exec_insert_last/") + pair;
        benchmark::RegisterBenchmark(name.c_str(), BM_paired, libs[i], libs[j], std::string(line))->Iterations(20000);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
