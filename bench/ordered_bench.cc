// Ordered kinds through the exported exec, as a host uses them (the host
// formats each line and reads the answer), against the same work on
// std::set / std::map (rank: libstdc++'s order-statistics tree) and on an
// in-memory SQLite table (INTEGER PRIMARY KEY, prepared statements,
// journal off, one transaction per phase), at 100,000 and 1,000,000 random
// distinct i32 keys. Time per operation; memory per element as resident
// growth over the count; two threads reading one set against one.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <algorithm>
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
#include <vector>

#include "api/vox_nosql.h"

namespace {

const char* const sixteen = "abcdefghijklmnop";

std::vector<int32_t> shuffled(int64_t n, uint32_t seed = 42) {
  std::vector<int32_t> k(static_cast<size_t>(n));
  std::iota(k.begin(), k.end(), 0);
  std::shuffle(k.begin(), k.end(), std::mt19937(seed));
  return k;
}

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

// ---- the library, through exec ----

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
std::string name_of(char kind, int64_t n) {
  char b[32];
  return std::string(b, static_cast<size_t>(std::snprintf(b, sizeof b, "%c%lld", kind, static_cast<long long>(n))));
}

// A container filled with keys 0 .. n-1 inserted in random order, made on
// first use and kept for every benchmark of that size.
std::string filled_set(int64_t n) {
  static std::mutex m;
  static std::set<int64_t> made;
  const std::string name = name_of('s', n);
  std::lock_guard<std::mutex> l(m);
  if (made.insert(n).second) {
    must("c set i32 " + name);
    char line[64];
    for (int32_t k : shuffled(n)) must(std::string(line, std::snprintf(line, sizeof line, "i \"%s\" %d", name.c_str(), k)));
  }
  return name;
}
std::string filled_map(int64_t n) {
  static std::mutex m;
  static std::set<int64_t> made;
  const std::string name = name_of('m', n);
  std::lock_guard<std::mutex> l(m);
  if (made.insert(n).second) {
    must("c map i32 string " + name);
    char line[96];
    for (int32_t k : shuffled(n))
      must(std::string(line, std::snprintf(line, sizeof line, "i \"%s\" %d %s", name.c_str(), k, sixteen)));
  }
  return name;
}

void BM_Ours_Insert(benchmark::State& st) {
  const auto keys = shuffled(st.range(0), 7);
  size_t i = keys.size();
  char line[64];
  for (auto _ : st) {
    if (i == keys.size()) {
      st.PauseTiming();
      ok("e \"ins\"");
      must("c set i32 ins");
      i = 0;
      st.ResumeTiming();
    }
    datas* d = run(line, std::snprintf(line, sizeof line, "i \"ins\" %d", keys[i++]));
    benchmark::DoNotOptimize(d);
    del_datas(d);
  }
  ok("e \"ins\"");
}

// g NAME WORD K, reading the one cell of the answer.
template <class Read>
void query(benchmark::State& st, const std::string& name, const char* word, Read&& read) {
  const int64_t n = st.range(0);
  std::mt19937 rng(11);
  char line[96];
  for (auto _ : st) {
    const auto k = static_cast<int32_t>(rng() % n);
    datas* d = run(line, std::snprintf(line, sizeof line, "g \"%s\" %s %d", name.c_str(), word, k));
    read(d);
    del_datas(d);
  }
}
void BM_Ours_Equal(benchmark::State& st) {
  query(st, filled_set(st.range(0)), "equal", [](datas* d) { benchmark::DoNotOptimize(as_int32(at(0, 0, d))); });
}
void BM_Ours_Rank(benchmark::State& st) {
  query(st, filled_set(st.range(0)), "rank", [](datas* d) { benchmark::DoNotOptimize(as_uint64(at(0, 0, d))); });
}
void BM_Ours_MapValue(benchmark::State& st) {
  query(st, filled_map(st.range(0)), "value", [](datas* d) {
    char* text;
    uint64_t len;
    as_str(&text, &len, at(0, 0, d));
    benchmark::DoNotOptimize(text);
    std::free(text);
  });
}
void BM_Ours_Range100(benchmark::State& st) {
  const int64_t n = st.range(0);
  const std::string name = filled_set(n);
  std::mt19937 rng(13);
  char line[96];
  int64_t sum = 0;
  for (auto _ : st) {
    const auto a = static_cast<int32_t>(rng() % (n - 100));
    datas* d = run(line, std::snprintf(line, sizeof line, "g \"%s\" lege %d %d", name.c_str(), a, a + 99));
    for (uint64_t r = 0, rows = rows_of(d); r < rows; ++r) sum += as_int32(at(r, 0, d));
    del_datas(d);
  }
  benchmark::DoNotOptimize(sum);
}
// Deletion by key of a tenth of the keys, in random order, then (untimed)
// their return, so the set stays near its size.
void BM_Ours_Delete(benchmark::State& st) {
  const int64_t n = st.range(0);
  const std::string name = filled_set(n);
  auto keys = shuffled(n, 17);
  keys.resize(static_cast<size_t>(n / 10));
  size_t i = 0;
  char line[64];
  for (auto _ : st) {
    if (i == keys.size()) {
      st.PauseTiming();
      for (int32_t k : keys) must(std::string(line, std::snprintf(line, sizeof line, "i \"%s\" %d", name.c_str(), k)));
      i = 0;
      st.ResumeTiming();
    }
    datas* d = run(line, std::snprintf(line, sizeof line, "d \"%s\" equal %d", name.c_str(), keys[i++]));
    benchmark::DoNotOptimize(d);
    del_datas(d);
  }
  for (; i > 0; --i) must(std::string(line, std::snprintf(line, sizeof line, "i \"%s\" %d", name.c_str(), keys[i - 1])));
}

// ---- the standard containers ----

using ranked_set = __gnu_pbds::tree<int32_t, __gnu_pbds::null_type, std::less<int32_t>, __gnu_pbds::rb_tree_tag,
                                    __gnu_pbds::tree_order_statistics_node_update>;

template <class C>
const C& std_filled(int64_t n) {
  static std::map<int64_t, std::unique_ptr<C>> made;
  auto& c = made[n];
  if (!c) {
    c = std::make_unique<C>();
    for (int32_t k : shuffled(n)) {
      if constexpr (std::is_same_v<C, std::map<int32_t, std::string>>) c->emplace(k, sixteen);
      else c->insert(k);
    }
  }
  return *c;
}

void BM_Std_Insert(benchmark::State& st) {
  const auto keys = shuffled(st.range(0), 7);
  size_t i = keys.size();
  auto s = std::make_unique<std::set<int32_t>>();
  for (auto _ : st) {
    if (i == keys.size()) {
      st.PauseTiming();
      s = std::make_unique<std::set<int32_t>>();
      i = 0;
      st.ResumeTiming();
    }
    s->insert(keys[i++]);
  }
}
void BM_Std_Equal(benchmark::State& st) {
  const auto& s = std_filled<std::set<int32_t>>(st.range(0));
  std::mt19937 rng(11);
  for (auto _ : st) benchmark::DoNotOptimize(*s.find(static_cast<int32_t>(rng() % st.range(0))));
}
void BM_Std_Rank(benchmark::State& st) {
  const auto& s = std_filled<ranked_set>(st.range(0));
  std::mt19937 rng(11);
  for (auto _ : st) benchmark::DoNotOptimize(s.order_of_key(static_cast<int32_t>(rng() % st.range(0))));
}
void BM_Std_MapValue(benchmark::State& st) {
  const auto& m = std_filled<std::map<int32_t, std::string>>(st.range(0));
  std::mt19937 rng(11);
  for (auto _ : st) {
    std::string v = m.find(static_cast<int32_t>(rng() % st.range(0)))->second;
    benchmark::DoNotOptimize(v.data());
  }
}
void BM_Std_Range100(benchmark::State& st) {
  const int64_t n = st.range(0);
  const auto& s = std_filled<std::set<int32_t>>(n);
  std::mt19937 rng(13);
  std::vector<int32_t> out;
  for (auto _ : st) {
    const auto a = static_cast<int32_t>(rng() % (n - 100));
    out.assign(s.lower_bound(a), s.upper_bound(a + 99));
    benchmark::DoNotOptimize(out.data());
  }
}
void BM_Std_Delete(benchmark::State& st) {
  const int64_t n = st.range(0);
  auto s = std_filled<std::set<int32_t>>(n);  // a copy of our own
  auto keys = shuffled(n, 17);
  keys.resize(static_cast<size_t>(n / 10));
  size_t i = 0;
  for (auto _ : st) {
    if (i == keys.size()) {
      st.PauseTiming();
      s.insert(keys.begin(), keys.end());
      i = 0;
      st.ResumeTiming();
    }
    s.erase(keys[i++]);
  }
}

// ---- SQLite in memory ----

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
};

void lite_fill(lite& l, int64_t n, bool map) {
  l.sql("BEGIN");
  stmt ins{l.prepare(map ? "INSERT INTO t(k, v) VALUES(?, ?)" : "INSERT INTO t(k) VALUES(?)")};
  for (int32_t k : shuffled(n)) {
    sqlite3_bind_int(ins.s, 1, k);
    if (map) sqlite3_bind_text(ins.s, 2, sixteen, 16, SQLITE_STATIC);
    if (sqlite3_step(ins.s) != SQLITE_DONE) std::abort();
    sqlite3_reset(ins.s);
  }
  l.sql("COMMIT");
}
lite& lite_filled(int64_t n, bool map) {
  static std::map<std::pair<int64_t, bool>, std::unique_ptr<lite>> made;
  auto& l = made[{n, map}];
  if (!l) {
    l = std::make_unique<lite>(map ? "CREATE TABLE t(k INTEGER PRIMARY KEY, v TEXT)" : "CREATE TABLE t(k INTEGER PRIMARY KEY)");
    lite_fill(*l, n, map);
  }
  return *l;
}

void BM_Lite_Insert(benchmark::State& st) {
  const auto keys = shuffled(st.range(0), 7);
  size_t i = keys.size();
  std::unique_ptr<lite> l;
  std::unique_ptr<stmt> ins;
  for (auto _ : st) {
    if (i == keys.size()) {
      st.PauseTiming();
      if (l) l->sql("COMMIT");
      ins.reset();
      l = std::make_unique<lite>("CREATE TABLE t(k INTEGER PRIMARY KEY)");
      ins = std::make_unique<stmt>(l->prepare("INSERT INTO t(k) VALUES(?)"));
      l->sql("BEGIN");
      i = 0;
      st.ResumeTiming();
    }
    sqlite3_bind_int(ins->s, 1, keys[i++]);
    if (sqlite3_step(ins->s) != SQLITE_DONE) std::abort();
    sqlite3_reset(ins->s);
  }
  if (l) l->sql("COMMIT");
  ins.reset();
}
// One prepared statement with one integer parameter, stepped once per
// operation inside one transaction; read(stmt) reads the row.
template <class Read>
void lite_query(benchmark::State& st, lite& l, const char* sql, Read&& read) {
  stmt q{l.prepare(sql)};
  std::mt19937 rng(11);
  l.sql("BEGIN");
  for (auto _ : st) {
    sqlite3_bind_int(q.s, 1, static_cast<int32_t>(rng() % st.range(0)));
    if (sqlite3_step(q.s) == SQLITE_ROW) read(q.s);
    sqlite3_reset(q.s);
  }
  l.sql("COMMIT");
}
void BM_Lite_Equal(benchmark::State& st) {
  lite_query(st, lite_filled(st.range(0), false), "SELECT k FROM t WHERE k = ?",
             [](sqlite3_stmt* s) { benchmark::DoNotOptimize(sqlite3_column_int(s, 0)); });
}
void BM_Lite_Rank(benchmark::State& st) {
  lite_query(st, lite_filled(st.range(0), false), "SELECT count(*) FROM t WHERE k < ?",
             [](sqlite3_stmt* s) { benchmark::DoNotOptimize(sqlite3_column_int64(s, 0)); });
}
void BM_Lite_MapValue(benchmark::State& st) {
  lite_query(st, lite_filled(st.range(0), true), "SELECT v FROM t WHERE k = ?", [](sqlite3_stmt* s) {
    benchmark::DoNotOptimize(sqlite3_column_text(s, 0));
    benchmark::DoNotOptimize(sqlite3_column_bytes(s, 0));
  });
}
void BM_Lite_Range100(benchmark::State& st) {
  const int64_t n = st.range(0);
  lite& l = lite_filled(n, false);
  stmt q{l.prepare("SELECT k FROM t WHERE k BETWEEN ? AND ?")};
  std::mt19937 rng(13);
  int64_t sum = 0;
  l.sql("BEGIN");
  for (auto _ : st) {
    const auto a = static_cast<int32_t>(rng() % (n - 100));
    sqlite3_bind_int(q.s, 1, a);
    sqlite3_bind_int(q.s, 2, a + 99);
    while (sqlite3_step(q.s) == SQLITE_ROW) sum += sqlite3_column_int(q.s, 0);
    sqlite3_reset(q.s);
  }
  l.sql("COMMIT");
  benchmark::DoNotOptimize(sum);
}
void BM_Lite_Delete(benchmark::State& st) {
  const int64_t n = st.range(0);
  lite& l = lite_filled(n, false);
  auto keys = shuffled(n, 17);
  keys.resize(static_cast<size_t>(n / 10));
  stmt del{l.prepare("DELETE FROM t WHERE k = ?")};
  stmt ins{l.prepare("INSERT INTO t(k) VALUES(?)")};
  auto put_back = [&](size_t upto) {
    for (size_t j = 0; j < upto; ++j) {
      sqlite3_bind_int(ins.s, 1, keys[j]);
      if (sqlite3_step(ins.s) != SQLITE_DONE) std::abort();
      sqlite3_reset(ins.s);
    }
  };
  size_t i = 0;
  l.sql("BEGIN");
  for (auto _ : st) {
    if (i == keys.size()) {
      st.PauseTiming();
      put_back(i);
      i = 0;
      st.ResumeTiming();
    }
    sqlite3_bind_int(del.s, 1, keys[i++]);
    if (sqlite3_step(del.s) != SQLITE_DONE) std::abort();
    sqlite3_reset(del.s);
  }
  put_back(i);
  l.sql("COMMIT");
}

// ---- memory per element after 1,000,000 random inserts ----

void BM_Mem_OursSetI32(benchmark::State& st) {
  for (auto _ : st) {
    const long before = rss_after_trim();
    must("c set i32 memset");
    char line[64];
    for (int32_t k : shuffled(st.range(0))) must(std::string(line, std::snprintf(line, sizeof line, "i \"memset\" %d", k)));
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(st.range(0));
    must("e \"memset\"");
  }
}
void BM_Mem_OursMapI32Str16(benchmark::State& st) {
  for (auto _ : st) {
    const long before = rss_after_trim();
    must("c map i32 string memmap");
    char line[96];
    for (int32_t k : shuffled(st.range(0)))
      must(std::string(line, std::snprintf(line, sizeof line, "i \"memmap\" %d %s", k, sixteen)));
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
    auto l = std::make_unique<lite>("CREATE TABLE t(k INTEGER PRIMARY KEY)");
    lite_fill(*l, st.range(0), false);
    st.counters["bytes_per_elem"] = static_cast<double>(rss_bytes() - before) / static_cast<double>(st.range(0));
  }
}

// ---- two readers on one set ----

void BM_Ours_EqualThreads(benchmark::State& st) {
  const std::string name = filled_set(1000000);
  std::mt19937 rng(11 + static_cast<uint32_t>(st.thread_index()));
  char line[96];
  for (auto _ : st) {
    const auto k = static_cast<int32_t>(rng() % 1000000);
    datas* d = run(line, std::snprintf(line, sizeof line, "g \"%s\" equal %d", name.c_str(), k));
    benchmark::DoNotOptimize(as_int32(at(0, 0, d)));
    del_datas(d);
  }
  st.SetItemsProcessed(st.iterations());
}

#define SIZES Arg(100000)->Arg(1000000)
BENCHMARK(BM_Ours_Insert)->SIZES;
BENCHMARK(BM_Std_Insert)->SIZES;
BENCHMARK(BM_Lite_Insert)->SIZES;
BENCHMARK(BM_Ours_Equal)->SIZES;
BENCHMARK(BM_Std_Equal)->SIZES;
BENCHMARK(BM_Lite_Equal)->SIZES;
BENCHMARK(BM_Ours_Rank)->SIZES;
BENCHMARK(BM_Std_Rank)->SIZES;
BENCHMARK(BM_Lite_Rank)->SIZES;
BENCHMARK(BM_Ours_Range100)->SIZES;
BENCHMARK(BM_Std_Range100)->SIZES;
BENCHMARK(BM_Lite_Range100)->SIZES;
BENCHMARK(BM_Ours_Delete)->SIZES;
BENCHMARK(BM_Std_Delete)->SIZES;
BENCHMARK(BM_Lite_Delete)->SIZES;
BENCHMARK(BM_Ours_MapValue)->SIZES;
BENCHMARK(BM_Std_MapValue)->SIZES;
BENCHMARK(BM_Lite_MapValue)->SIZES;
BENCHMARK(BM_Ours_EqualThreads)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Mem_OursSetI32)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_Mem_StdSetI32)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_Mem_LiteSetI32)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_Mem_OursMapI32Str16)->Arg(1000000)->Iterations(1);
BENCHMARK(BM_Mem_StdMapI32Str16)->Arg(1000000)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
