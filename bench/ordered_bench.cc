// Ordered kinds through the exported exec, as a host uses them (the host
// formats each line and reads the answer), against the same work on
// std::set / std::map (rank: libstdc++'s order-statistics tree) and on an
// in-memory SQLite table (INTEGER PRIMARY KEY, prepared statements,
// journal off, one transaction per phase), at 100,000 and 1,000,000 random
// distinct i32 keys. The three sides run in alternating batches within one
// benchmark, and the counters give each side's ns per operation and our
// ratios (x_std, x_sqlite). Also: memory per element as resident growth
// over the count, and two threads reading one set against one.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/vox_nosql.h"
#include "bench_util.h"

namespace {

const char* const sixteen = "abcdefghijklmnop";

using bench_util::shuffled;

long rss_bytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4096;
}
long rss_after_trim() {
  malloc_trim(0);
  return rss_bytes();
}

// ---- the three sides ----

datas* run(const char* line, int len) { return exec(line, len); }
bool ok(const std::string& line) {
  datas* d = run(line.data(), static_cast<int>(line.size()));
  del_datas(d);
  return d != nullptr;
}
void must(const std::string& line) {
  if (!ok(line)) {
    std::fprintf(stderr, "command failed: %s\n", line.c_str());
    std::abort();
  }
}
// "s100000" and the like, built without std::string's operator+ (which
// trips a false -Wrestrict in g++ 12 at -O3).
std::string name_of(const char* kind, int64_t n) {
  char b[32];
  return std::string(b, static_cast<size_t>(std::snprintf(b, sizeof b, "%s%lld", kind, static_cast<long long>(n))));
}
// Our container NAME of type TYPES filled with keys 0 .. n-1 in random order
// (maps: each with a 16-byte string).
void fill_ours(const std::string& name, const char* types, int64_t n, bool map) {
  ok("e \"" + name + "\"");
  must(std::string("c ") + types + " " + name);
  char line[96];
  for (int32_t k : shuffled(n)) {
    const int len = map ? std::snprintf(line, sizeof line, "i \"%s\" %d %s", name.c_str(), k, sixteen)
                        : std::snprintf(line, sizeof line, "i \"%s\" %d", name.c_str(), k);
    must(std::string(line, static_cast<size_t>(len)));
  }
}

using ranked_set = __gnu_pbds::tree<int32_t, __gnu_pbds::null_type, std::less<int32_t>, __gnu_pbds::rb_tree_tag,
                                    __gnu_pbds::tree_order_statistics_node_update>;

struct lite {
  sqlite3* db = nullptr;
  explicit lite(const char* schema) {
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) std::abort();
    sql("PRAGMA journal_mode=OFF");
    sql("PRAGMA synchronous=OFF");
    sql(schema);
  }
  ~lite() { sqlite3_close(db); }
  void sql(const char* s) {
    if (sqlite3_exec(db, s, nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
  sqlite3_stmt* prepare(const char* s) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, s, -1, &st, nullptr) != SQLITE_OK) std::abort();
    return st;
  }
};
struct stmt {
  sqlite3_stmt* s;
  explicit stmt(sqlite3_stmt* st) : s(st) {}
  stmt(const stmt&) = delete;
  stmt& operator=(const stmt&) = delete;
  ~stmt() { sqlite3_finalize(s); }
  // Binds the integer parameters, steps through every row calling row(),
  // resets.
  template <class Row>
  void run(std::initializer_list<int32_t> args, Row&& row) {
    int i = 1;
    for (int32_t a : args) sqlite3_bind_int(s, i++, a);
    while (sqlite3_step(s) == SQLITE_ROW) row(s);
    sqlite3_reset(s);
  }
};
std::unique_ptr<lite> lite_filled(int64_t n, bool map) {
  auto l = std::make_unique<lite>(map ? "CREATE TABLE t(k INTEGER PRIMARY KEY, v TEXT)" : "CREATE TABLE t(k INTEGER PRIMARY KEY)");
  l->sql("BEGIN");
  stmt ins(l->prepare(map ? "INSERT INTO t(k, v) VALUES(?, ?)" : "INSERT INTO t(k) VALUES(?)"));
  for (int32_t k : shuffled(n)) {
    sqlite3_bind_int(ins.s, 1, k);
    if (map) sqlite3_bind_text(ins.s, 2, sixteen, 16, SQLITE_STATIC);
    if (sqlite3_step(ins.s) != SQLITE_DONE) std::abort();
    sqlite3_reset(ins.s);
  }
  l->sql("COMMIT");
  return l;
}

// Runs the three sides in turn, a batch of operations each per round, so
// that whatever else the machine does falls on all of them alike; reports
// each side's time per operation and our ratios to the other two. A side
// is called with the operation's index and does one operation; `between`
// runs untimed after each round (to refill what the round used up).
// Batches divide the key counts, so refills fall between rounds.
template <class Ours, class Std, class Lite, class Between>
void paired(benchmark::State& st, int lite_batch, Ours&& ours, Std&& std_side, Lite&& lite_side, Between&& between) {
  using clock = std::chrono::steady_clock;
  constexpr int batch = 2500;
  double ns[3] = {0, 0, 0};
  uint64_t ops = 0, lite_ops = 0;
  for (auto _ : st) {
    const auto t0 = clock::now();
    for (int i = 0; i < batch; ++i) ours(ops + i);
    const auto t1 = clock::now();
    for (int i = 0; i < batch; ++i) std_side(ops + i);
    const auto t2 = clock::now();
    for (int i = 0; i < lite_batch; ++i) lite_side(lite_ops + i);
    const auto t3 = clock::now();
    ns[0] += std::chrono::duration<double, std::nano>(t1 - t0).count();
    ns[1] += std::chrono::duration<double, std::nano>(t2 - t1).count();
    ns[2] += std::chrono::duration<double, std::nano>(t3 - t2).count();
    ops += batch;
    lite_ops += lite_batch;
    st.PauseTiming();
    between(ops, lite_ops);
    st.ResumeTiming();
  }
  const double ours_ns = ns[0] / ops, std_ns = ns[1] / ops, lite_ns = ns[2] / lite_ops;
  st.counters["ours_ns"] = ours_ns;
  st.counters["std_ns"] = std_ns;
  st.counters["sqlite_ns"] = lite_ns;
  st.counters["x_std"] = ours_ns / std_ns;
  st.counters["x_sqlite"] = ours_ns / lite_ns;
}
template <class Ours, class Std, class Lite>
void paired(benchmark::State& st, int lite_batch, Ours&& ours, Std&& std_side, Lite&& lite_side) {
  paired(st, lite_batch, ours, std_side, lite_side, [](uint64_t, uint64_t) {});
}

// Random keys below n, the same sequence for every side.
struct key_stream {
  std::vector<int32_t> k;
  key_stream(int64_t n, uint32_t seed) : k(1 << 16) {
    std::mt19937 rng(seed);
    for (auto& x : k) x = static_cast<int32_t>(rng() % n);
  }
  int32_t operator[](uint64_t i) const { return k[i & 0xffff]; }
};

// ---- insertion: n random distinct keys into an empty container ----

void BM_Insert(benchmark::State& st) {
  const int64_t n = st.range(0);
  const auto keys = shuffled(n, 7);
  must("c set i32 ins");
  auto s = std::make_unique<std::set<int32_t>>();
  auto l = std::make_unique<lite>("CREATE TABLE t(k INTEGER PRIMARY KEY)");
  auto ins = std::make_unique<stmt>(l->prepare("INSERT INTO t(k) VALUES(?)"));
  l->sql("BEGIN");
  char line[64];
  paired(
      st, 2500,
      [&](uint64_t i) {
        datas* d = run(line, std::snprintf(line, sizeof line, "i \"ins\" %d", keys[i % n]));
        benchmark::DoNotOptimize(d);
        del_datas(d);
      },
      [&](uint64_t i) { s->insert(keys[i % n]); },
      [&](uint64_t i) { ins->run({keys[i % n]}, [](sqlite3_stmt*) {}); },
      [&](uint64_t done, uint64_t) {
        if (done % n != 0) return;  // all n in: start again from empty
        must("e \"ins\"");
        must("c set i32 ins");
        s = std::make_unique<std::set<int32_t>>();
        l->sql("COMMIT");
        ins.reset();
        l = std::make_unique<lite>("CREATE TABLE t(k INTEGER PRIMARY KEY)");
        ins = std::make_unique<stmt>(l->prepare("INSERT INTO t(k) VALUES(?)"));
        l->sql("BEGIN");
      });
  l->sql("COMMIT");
  ins.reset();
  must("e \"ins\"");
}

// ---- queries on containers of n keys ----

struct filled_sets {
  std::string name;
  std::set<int32_t> std_set;
  ranked_set ranked;
  std::unique_ptr<lite> l;
  explicit filled_sets(int64_t n) : name(name_of("s", n)), l(lite_filled(n, false)) {
    fill_ours(name, "set i32", n, false);
    for (int32_t k : shuffled(n)) {
      std_set.insert(k);
      ranked.insert(k);
    }
    l->sql("BEGIN");
  }
  ~filled_sets() {
    l->sql("COMMIT");
    ok("e \"" + name + "\"");
  }
};

void BM_Equal(benchmark::State& st) {
  filled_sets f(st.range(0));
  const key_stream keys(st.range(0), 11);
  stmt q(f.l->prepare("SELECT k FROM t WHERE k = ?"));
  char line[96];
  paired(
      st, 2500,
      [&](uint64_t i) {
        datas* d = run(line, std::snprintf(line, sizeof line, "g \"%s\" equal %d", f.name.c_str(), keys[i]));
        benchmark::DoNotOptimize(as_int32(at(0, 0, d)));
        del_datas(d);
      },
      [&](uint64_t i) { benchmark::DoNotOptimize(*f.std_set.find(keys[i])); },
      [&](uint64_t i) { q.run({keys[i]}, [](sqlite3_stmt* s) { benchmark::DoNotOptimize(sqlite3_column_int(s, 0)); }); });
}

// std: libstdc++'s order-statistics tree; SQLite: a count of the smaller
// keys, which walks them (a few per round only).
void BM_Rank(benchmark::State& st) {
  filled_sets f(st.range(0));
  const key_stream keys(st.range(0), 11);
  stmt q(f.l->prepare("SELECT count(*) FROM t WHERE k < ?"));
  char line[96];
  paired(
      st, 2,
      [&](uint64_t i) {
        datas* d = run(line, std::snprintf(line, sizeof line, "g \"%s\" rank %d", f.name.c_str(), keys[i]));
        benchmark::DoNotOptimize(as_uint64(at(0, 0, d)));
        del_datas(d);
      },
      [&](uint64_t i) { benchmark::DoNotOptimize(f.ranked.order_of_key(keys[i])); },
      [&](uint64_t i) { q.run({keys[i]}, [](sqlite3_stmt* s) { benchmark::DoNotOptimize(sqlite3_column_int64(s, 0)); }); });
}

// The keys a .. a + 99: a range of 100, read cell by cell.
void BM_Range100(benchmark::State& st) {
  const int64_t n = st.range(0);
  filled_sets f(n);
  const key_stream keys(n - 100, 13);
  stmt q(f.l->prepare("SELECT k FROM t WHERE k BETWEEN ? AND ?"));
  std::vector<int32_t> out;
  int64_t sum = 0;
  char line[96];
  paired(
      st, 2500,
      [&](uint64_t i) {
        datas* d = run(line, std::snprintf(line, sizeof line, "g \"%s\" lege %d %d", f.name.c_str(), keys[i], keys[i] + 99));
        for (uint64_t r = 0, rows = rows_of(d); r < rows; ++r) sum += as_int32(at(r, 0, d));
        del_datas(d);
      },
      [&](uint64_t i) {
        out.assign(f.std_set.lower_bound(keys[i]), f.std_set.upper_bound(keys[i] + 99));
        for (int32_t x : out) sum += x;
      },
      [&](uint64_t i) { q.run({keys[i], keys[i] + 99}, [&](sqlite3_stmt* s) { sum += sqlite3_column_int(s, 0); }); });
  benchmark::DoNotOptimize(sum);
}

// Deletion by key of a tenth of the keys in random order, each side's
// deleted keys put back (untimed) once all are gone.
void BM_Delete(benchmark::State& st) {
  const int64_t n = st.range(0);
  filled_sets f(n);
  auto gone = shuffled(n, 17);
  gone.resize(static_cast<size_t>(n / 10));
  const uint64_t m = gone.size();
  stmt del(f.l->prepare("DELETE FROM t WHERE k = ?"));
  stmt put(f.l->prepare("INSERT INTO t(k) VALUES(?)"));
  char line[96];
  paired(
      st, 2500,
      [&](uint64_t i) {
        datas* d = run(line, std::snprintf(line, sizeof line, "d \"%s\" equal %d", f.name.c_str(), gone[i % m]));
        benchmark::DoNotOptimize(d);
        del_datas(d);
      },
      [&](uint64_t i) { f.std_set.erase(gone[i % m]); },
      [&](uint64_t i) { del.run({gone[i % m]}, [](sqlite3_stmt*) {}); },
      [&](uint64_t done, uint64_t) {
        if (done % m != 0) return;
        for (int32_t k : gone) {
          must(std::string(line, static_cast<size_t>(std::snprintf(line, sizeof line, "i \"%s\" %d", f.name.c_str(), k))));
          f.std_set.insert(k);
          put.run({k}, [](sqlite3_stmt*) {});
        }
      });
}

// A map from i32 to a 16-byte string: the value of a key, as a string.
void BM_MapValue(benchmark::State& st) {
  const int64_t n = st.range(0);
  const std::string name = name_of("m", n);
  fill_ours(name, "map i32 string", n, true);
  std::map<int32_t, std::string> m;
  for (int32_t k : shuffled(n)) m.emplace(k, sixteen);
  auto l = lite_filled(n, true);
  l->sql("BEGIN");
  const key_stream keys(n, 11);
  stmt q(l->prepare("SELECT v FROM t WHERE k = ?"));
  char line[96];
  paired(
      st, 2500,
      [&](uint64_t i) {
        datas* d = run(line, std::snprintf(line, sizeof line, "g \"%s\" value %d", name.c_str(), keys[i]));
        char* text;
        uint64_t len;
        as_str(&text, &len, at(0, 0, d));
        benchmark::DoNotOptimize(text);
        std::free(text);
        del_datas(d);
      },
      [&](uint64_t i) {
        std::string v = m.find(keys[i])->second;
        benchmark::DoNotOptimize(v.data());
      },
      [&](uint64_t i) {
        q.run({keys[i]}, [](sqlite3_stmt* s) {
          benchmark::DoNotOptimize(sqlite3_column_text(s, 0));
          benchmark::DoNotOptimize(sqlite3_column_bytes(s, 0));
        });
      });
  l->sql("COMMIT");
  ok("e \"" + name + "\"");
}

// ---- memory per element after 1,000,000 random inserts ----

void BM_Mem_OursSetI32(benchmark::State& st) {
  for (auto _ : st) {
    const long before = rss_after_trim();
    fill_ours("memset", "set i32", st.range(0), false);
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(st.range(0));
    must("e \"memset\"");
  }
}
void BM_Mem_OursMapI32Str16(benchmark::State& st) {
  for (auto _ : st) {
    const long before = rss_after_trim();
    fill_ours("memmap", "map i32 string", st.range(0), true);
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(st.range(0));
    must("e \"memmap\"");
  }
}
void BM_Mem_StdSetI32(benchmark::State& st) {
  for (auto _ : st) {
    const long before = rss_after_trim();
    auto s = std::make_unique<std::set<int32_t>>();
    for (int32_t k : shuffled(st.range(0))) s->insert(k);
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(st.range(0));
  }
}
void BM_Mem_StdMapI32Str16(benchmark::State& st) {
  for (auto _ : st) {
    const long before = rss_after_trim();
    auto m = std::make_unique<std::map<int32_t, std::string>>();
    for (int32_t k : shuffled(st.range(0))) m->emplace(k, sixteen);
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(st.range(0));
  }
}
void BM_Mem_LiteSetI32(benchmark::State& st) {
  for (auto _ : st) {
    const long before = rss_after_trim();
    auto l = lite_filled(st.range(0), false);
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(st.range(0));
  }
}

// ---- readers on one set: equal through exec from one and two threads ----

// Alternates short spells of one reader and of two, so that the machine's
// drifts fall on both alike; reports each one's operations per second and
// their ratio.
void BM_EqualThreads(benchmark::State& st) {
  fill_ours("shared", "set i32", 1000000, false);
  using clock = std::chrono::steady_clock;
  auto reader = [](uint32_t seed, clock::time_point until, uint64_t* ops) {
    const key_stream keys(1000000, seed);
    char line[96];
    uint64_t i = 0;
    while ((i & 63) != 0 || clock::now() < until) {
      datas* d = run(line, std::snprintf(line, sizeof line, "g \"shared\" equal %d", keys[i++]));
      benchmark::DoNotOptimize(as_int32(at(0, 0, d)));
      del_datas(d);
    }
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

#define SIZES Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Insert)->SIZES;
BENCHMARK(BM_Equal)->SIZES;
BENCHMARK(BM_Rank)->SIZES;
BENCHMARK(BM_Range100)->SIZES;
BENCHMARK(BM_Delete)->SIZES;
BENCHMARK(BM_MapValue)->SIZES;
BENCHMARK(BM_EqualThreads)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mem_OursSetI32)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_Mem_StdSetI32)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_Mem_LiteSetI32)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_Mem_OursMapI32Str16)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_Mem_StdMapI32Str16)->Arg(1000000)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
