// Batches against the same commands sent one by one:
//
//  - an atomic pop from a set of 1,000,000 i32 keys: the batch
//    `g S min` + `d S min` against the two lines through exec (x_exec is
//    the batch's cost over theirs), and against the same two commands as
//    prepared statements in a batch; each round's popped keys are put back
//    above the others, untimed, so the set keeps its size;
//  - 1 and 4 threads popping from one set: through batches, and deleting
//    the minimum through exec; pops_per_s per thread count gives how each
//    way scales.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "api/vox_nosql.h"
#include "bench_util.h"

namespace {

using bench_util::must;
using bench_util::paired;
using bench_util::shuffled;

constexpr int64_t million = 1'000'000;

// A set of i32 named `name` holding 0 .. n-1; returns the next key above.
int32_t fill(const std::string& name, int64_t n) {
  if (datas* d = exec(("e \"" + name + "\"").c_str(), static_cast<int32_t>(name.size() + 4))) del_datas(d);
  must("c set i32 " + name);
  vox_stmt* ins = vox_prepare(("i \"" + name + "\" ?").c_str(), static_cast<int32_t>(name.size() + 6));
  for (int32_t k : shuffled(n)) {
    vox_bind_int64(ins, 1, k);
    vox_run(ins);
  }
  vox_finalize(ins);
  return static_cast<int32_t>(n);
}

int32_t first_i32(const datas* d) { return as_int32(at(0, 0, d)); }

void BM_AtomicPop(benchmark::State& st) {
  int32_t top[3] = {fill("pop_b", million), fill("pop_e", million), fill("pop_p", million)};
  const std::string batch = "g \"pop_b\" min\nd \"pop_b\" min";
  vox_stmt* get = vox_prepare("g \"pop_p\" min", 13);
  vox_stmt* del = vox_prepare("d \"pop_p\" min", 13);
  const vox_batch_item prepared_pop[2] = {{nullptr, 0, get}, {nullptr, 0, del}};
  int64_t sum = 0;
  auto batched = [&](uint64_t) {
    datas* r[2];
    if (vox_batch(batch.data(), static_cast<int32_t>(batch.size()), r, 2) != 2) std::abort();
    sum += first_i32(r[0]);
    del_datas(r[0]);
    del_datas(r[1]);
  };
  auto one_by_one = [&](uint64_t) {
    datas* g = exec("g \"pop_e\" min", 13);
    sum += first_i32(g);
    del_datas(g);
    del_datas(exec("d \"pop_e\" min", 13));
  };
  auto statements = [&](uint64_t) {
    datas* r[2];
    if (vox_batch_items(prepared_pop, 2, r) != 2) std::abort();
    sum += first_i32(r[0]);
    del_datas(r[0]);
    del_datas(r[1]);
  };
  // Each round popped 2,500 keys from each set: put as many back on top.
  auto refill = [&](uint64_t) {
    const char* names[3] = {"i \"pop_b\" ?", "i \"pop_e\" ?", "i \"pop_p\" ?"};
    for (int s = 0; s < 3; ++s) {
      vox_stmt* ins = vox_prepare(names[s], 11);
      for (int k = 0; k < 2500; ++k) {
        vox_bind_int64(ins, 1, top[s]++);
        vox_run(ins);
      }
      vox_finalize(ins);
    }
  };
  paired<decltype(batched), decltype(one_by_one), decltype(statements)>{st, {"batch", "exec", "prepared_batch"}}
      .run_with(refill, batched, one_by_one, statements);
  benchmark::DoNotOptimize(sum);
  vox_finalize(get);
  vox_finalize(del);
  for (const char* n : {"e \"pop_b\"", "e \"pop_e\"", "e \"pop_p\""}) must(n);
}
BENCHMARK(BM_AtomicPop)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Threads popping from one shared set of 4,000,000 keys, filled once.
std::atomic<bool> shared_ready{false};

void pop_threads(benchmark::State& st, bool batched) {
  if (st.thread_index() == 0 && !shared_ready.exchange(true)) fill("popmt", 4 * million);
  const std::string batch = "g \"popmt\" min\nd \"popmt\" min";
  int64_t pops = 0;
  for (auto _ : st) {
    if (batched) {
      datas* r[2];
      if (vox_batch(batch.data(), static_cast<int32_t>(batch.size()), r, 2) != 2) std::abort();
      del_datas(r[0]);
      del_datas(r[1]);
    } else {
      datas* d = exec("d \"popmt\" min", 13);
      if (!d) std::abort();
      del_datas(d);
    }
    ++pops;
  }
  st.counters["pops_per_s"] = benchmark::Counter(static_cast<double>(pops), benchmark::Counter::kIsRate);
}
void BM_PopThreadsBatch(benchmark::State& st) { pop_threads(st, true); }
void BM_PopThreadsExecDelete(benchmark::State& st) { pop_threads(st, false); }
BENCHMARK(BM_PopThreadsBatch)->Threads(1)->Threads(4)->Iterations(150000)->UseRealTime();
BENCHMARK(BM_PopThreadsExecDelete)->Threads(1)->Threads(4)->Iterations(150000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
