// Fuzz target: arbitrary bytes, split at line feeds, run as command lines
// against a fresh store. Any crash, leak, hang or sanitizer report is a bug;
// so is a store whose describe output disagrees with its container count,
// a failed command without a recorded reason, and a success with one.
//
// Every line is also prepared as a statement; those that prepare get values
// of every kind bound to their placeholders (chosen by the line's bytes),
// run, and are kept (a few at a time) to run again after the later lines,
// which erase, clear and read containers under them.
//
// Lines between a line "[" and a line "]" run as one batch (a line "?"
// there adds the kept statements): a batch answers every command or fails
// with the reason of one of them, and a failed batch leaves every
// container's bytes, names and vkeys as they were.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <unistd.h>

#include "api/batch.h"
#include "api/exec.h"
#include "api/statement.h"
#include "api/print.h"
#include "catalog/store.h"
#include "lang/codec.h"
#include "lang/failure.h"

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=4096"; }

// Dump and read commands touch files: run in a scratch directory of our own.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/vox_exec_fuzz_XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
  return 0;
}

namespace {

using namespace nosql_db;

// Every failure says why, and a success leaves no reason behind.
void check_reason(bool ok) {
  if (ok == (last_failure() != failure::none)) std::abort();
}

// A number made from the line's bytes, different for each placeholder.
uint64_t mix(const char* p, size_t n, uint64_t salt) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ salt;
  for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 0x100000001B3ull;
  return h;
}

void bind_some(statement& st, const char* p, size_t n) {
  for (int i = 1; i <= st.placeholders() + 1; ++i) {  // one index past the end, too
    const uint64_t h = mix(p, n, static_cast<uint64_t>(i));
    const auto u = [h](int shift, uint32_t mod) { return static_cast<uint32_t>((h >> shift) % mod); };
    bool ok = false;
    switch (h % 8) {
      case 0: ok = st.bind_int64(i, static_cast<int64_t>(h) >> u(8, 64)); break;
      case 1: ok = st.bind_uint64(i, h >> u(8, 64)); break;
      case 2: {
        double d;
        std::memcpy(&d, &h, sizeof d);
        ok = st.bind_double(i, (h & 16) ? d : static_cast<double>(static_cast<int32_t>(h >> 32)) / 4);
        break;
      }
      case 3: ok = st.bind_text(i, std::string_view(p, std::min<size_t>(n, u(8, 40)))); break;
      case 4: ok = st.bind_date(i, u(8, 10001), u(24, 14), u(40, 33)); break;
      case 5: ok = st.bind_time(i, u(8, 25), u(16, 61), u(24, 61), u(32, 1000000001)); break;
      case 6: ok = st.bind_datetime(i, u(8, 2100), u(20, 13), u(28, 29), u(36, 24), u(44, 60), u(50, 60), 0); break;
      default: ok = st.bind_int64(i, static_cast<int64_t>(u(8, 300)) - 150); break;
    }
    check_reason(ok);
  }
}

void run_statement(statement& st) {
  try {
    const datas* d = st.run();
    check_reason(d != nullptr);
    if (d) {
      xstring t;
      render_table(*d, &t);
    }
  } catch (const std::bad_alloc&) {
  }
}

// Everything a batch could change: each container's vkey, name, kind and
// bytes.
std::string state_of(const store& s) {
  std::string out;
  dump_out o(&out);
  for (uint64_t v = 0, left = s.container_count(); left > 0; ++v) {
    if (const ab_adt* c = s.at(v)) {
      o.put_u64(v);
      o.put_text(c->name().view());
      o.put_u8(static_cast<uint8_t>(c->kind_id()));
      c->save(o);
      c->save_extras(o);
      --left;
    }
  }
  return out;
}

void run_batch_of(store& s, const std::vector<batch_item>& items) {
  std::vector<datas*> answers(items.size());
  std::string before;
  try {
    before = state_of(s);
  } catch (const std::bad_alloc&) {
    return;
  }
  const int64_t n = run_batch(s, items.data(), static_cast<int64_t>(items.size()), answers.data());
  check_reason(n >= 0);
  if (n < 0) {
    if (thread_failure.record >= items.size() && !items.empty()) std::abort();
    try {
      if (state_of(s) != before) std::abort();
    } catch (const std::bad_alloc&) {
    }
    return;
  }
  if (n != static_cast<int64_t>(items.size())) std::abort();
  for (datas* d : answers) {
    xstring t;
    render_table(*d, &t);
    if (d != empty_result()) free_result(d);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<statement> kept[4];
  size_t next_kept = 0;
  std::vector<batch_item> batch;
  bool in_batch = false;
  // One store for the whole run, cleared before each input: every input
  // starts from the freshly built state.
  static store* s = new store();
  s->clear();
  const char* p = reinterpret_cast<const char*>(data);
  const char* end = p + size;
  while (p <= end) {
    const char* nl = p;
    while (nl < end && *nl != '\n') ++nl;
    const std::string_view line(p, static_cast<size_t>(nl - p));
    if (line == "[" || in_batch) {
      if (line == "]") {
        run_batch_of(*s, batch);
        batch.clear();
      } else if (line == "?" ) {
        for (auto& k : kept)
          if (k) batch.push_back({"", k.get()});
      } else if (line != "[") {
        batch.push_back({line, nullptr});
      }
      in_batch = line != "]";
      p = nl + 1;
      continue;
    }
    datas d;
    try {
      const bool ok = exec_cmd(*s, p, nl - p, &d);
      check_reason(ok);
      if (ok) {
        xstring t;
        render_table(d, &t);  // every answer must be printable
      }
      std::unique_ptr<statement> st = statement::prepare(*s, p, nl - p);
      check_reason(st != nullptr);
      if (st) {
        bind_some(*st, p, static_cast<size_t>(nl - p));
        run_statement(*st);
        kept[next_kept++ % 4] = std::move(st);
      }
    } catch (const std::bad_alloc&) {
      // A command that needs more memory than there is fails cleanly.
    }
    for (auto& k : kept)
      if (k) run_statement(*k);
    p = nl + 1;
  }
  datas k;
  if (!exec_cmd(*s, "k", 1, &k)) std::abort();
  const uint64_t rows = k.cols.empty() ? 0 : k.cols[0].rows();
  if (rows != s->container_count()) std::abort();
  return 0;
}
