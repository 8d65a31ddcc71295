// What the benchmarks share: shuffled keys, commands that must succeed, and
// sides of a comparison run in alternating rounds.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "api/vox_nosql.h"

namespace bench_util {

// 0 .. n-1 in a random order.
inline std::vector<int32_t> shuffled(int64_t n, uint32_t seed = 42) {
  std::vector<int32_t> k(static_cast<size_t>(n));
  std::iota(k.begin(), k.end(), 0);
  std::shuffle(k.begin(), k.end(), std::mt19937(seed));
  return k;
}

// Runs a command through exec; the process ends if it fails.
inline void must(const std::string& line) {
  datas* d = exec(line.data(), static_cast<int32_t>(line.size()));
  if (!d) {
    std::fprintf(stderr, "command failed: %s\n", line.c_str());
    std::abort();
  }
  del_datas(d);
}

// Runs the sides in turn, a round of 2,500 operations each, so that the
// machine's drifts fall on all of them alike; `between` runs untimed after
// each round. Counters: <label>_ns per side, and x_<label> for the first
// side's ratio to each other side.
template <class... Sides>
struct paired {
  benchmark::State& st;
  const char* labels[sizeof...(Sides)];
  void run(Sides&... sides) { run_with([](uint64_t) {}, sides...); }
  template <class Between>
  void run_with(Between&& between, Sides&... sides) {
    using clock = std::chrono::steady_clock;
    constexpr int round = 2500;
    double ns[sizeof...(Sides)] = {};
    uint64_t ops = 0;
    for (auto _ : st) {
      size_t i = 0;
      auto one = [&](auto& side) {
        const auto t0 = clock::now();
        for (int j = 0; j < round; ++j) side(ops + j);
        ns[i++] += std::chrono::duration<double, std::nano>(clock::now() - t0).count();
      };
      (one(sides), ...);
      ops += round;
      st.PauseTiming();
      between(ops);
      st.ResumeTiming();
    }
    for (size_t i = 0; i < sizeof...(Sides); ++i) {
      st.counters[std::string(labels[i]) + "_ns"] = ns[i] / static_cast<double>(ops);
      if (i > 0) st.counters[std::string("x_") + labels[i]] = ns[0] / ns[i];
    }
  }
};

}  // namespace bench_util
