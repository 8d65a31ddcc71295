// Fuzz target: arbitrary bytes, split at line feeds, run as command lines
// against a fresh store. Any crash, leak, hang or sanitizer report is a bug;
// so is a store whose describe output disagrees with its container count,
// a failed command without a recorded reason, and a success with one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

#include "api/exec.h"
#include "api/print.h"
#include "catalog/store.h"
#include "lang/failure.h"

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=4096"; }

// Dump and read commands touch files: run in a scratch directory of our own.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/vox_exec_fuzz_XXXXXX";
  if (!mkdtemp(dir) || chdir(dir) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nosql_db;
  // One store for the whole run, cleared before each input: every input
  // starts from the freshly built state.
  static store* s = new store();
  s->clear();
  const char* p = reinterpret_cast<const char*>(data);
  const char* end = p + size;
  while (p <= end) {
    const char* nl = p;
    while (nl < end && *nl != '\n') ++nl;
    datas d;
    try {
      const bool ok = exec_cmd(*s, p, nl - p, &d);
      // Every failure says why, and a success leaves no reason behind.
      if (ok == (last_failure() != failure::none)) std::abort();
      if (ok) {
        xstring t;
        render_table(d, &t);  // every answer must be printable
      }
    } catch (const std::bad_alloc&) {
      // A command that needs more memory than there is fails cleanly.
    }
    p = nl + 1;
  }
  datas k;
  if (!exec_cmd(*s, "k", 1, &k)) std::abort();
  const uint64_t rows = k.cols.empty() ? 0 : k.cols[0].rows();
  if (rows != s->container_count()) std::abort();
  return 0;
}
