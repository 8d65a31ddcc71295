// libFuzzer target for the dump reader: the input bytes become a file that
// "r FILE" reads into a store. Afterwards the store must be empty (the read
// failed) or well formed: describe works, every container lists its
// elements, and no container holds more elements than the file had bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/exec.h"
#include "lang/result_set.h"
#include "catalog/store.h"

using namespace nosql_db;

namespace {

store* the_store;
std::string dir_path;
std::string file_path;
std::string read_line;

void remove_files() {
  ::unlink(file_path.c_str());
  ::rmdir(dir_path.c_str());
}

bool run(const std::string& line, datas* out) { return exec_cmd(*the_store, line.data(), static_cast<int64_t>(line.size()), out); }

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "dump_reader_fuzz: %s\n", what);
    std::abort();
  }
}

}  // namespace

// A capacity that memory cannot hold must come back as std::bad_alloc (the
// reader turns it into a failed read), not as a sanitizer report.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=4096"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  the_store = new store();
  char dir[] = "/tmp/dump_reader_fuzz_XXXXXX";
  check(::mkdtemp(dir) != nullptr, "mkdtemp");
  dir_path = dir;
  file_path = dir_path + "/input.vxdb";
  std::atexit(remove_files);
  read_line = "r " + file_path;
  // The reader's messages go to stdout; keep the fuzzer's output readable.
  const int null_fd = ::open("/dev/null", O_WRONLY);
  if (null_fd >= 0) ::dup2(null_fd, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    const int fd = ::open(file_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    check(fd >= 0, "open input file");
    check(size == 0 || ::write(fd, data, size) == static_cast<ssize_t>(size), "write input file");
    ::close(fd);
  }
  datas ignored;
  const bool ok = run(read_line, &ignored);
  if (!ok) {
    check(the_store->container_count() == 0, "failed read left containers behind");
  } else {
    datas k;
    check(run("k", &k), "describe after a read");
    const uint64_t n = the_store->container_count();
    check(n == 0 || (k.cols.size() == 7 && k.cols[1].rows() == n), "describe rows");
    for (uint64_t row = 0; row < n; ++row) {
      uint64_t v;
      std::memcpy(&v, k.cols[1].cell(row)->value, 8);
      const ab_adt* c = the_store->at(v);
      check(c != nullptr, "described vkey is empty");
      const bool hashed = c->kind_id() == kind::hashmap || c->kind_id() == kind::hashtable;
      // A hashed kind reports its capacity; everything else its elements,
      // each of which took at least one byte of the file.
      check(hashed || c->size() <= size, "more elements than file bytes");
      datas g;
      if (run("g " + std::to_string(v) + " all", &g) && !hashed && !g.cols.empty())
        check(g.cols[0].rows() <= size, "listed more elements than file bytes");
    }
  }
  run("clear", &ignored);
  return 0;
}
