// exec and the dispatcher.
#include "api/exec.h"

#include <mutex>
#include <new>
#include <shared_mutex>

#include "api/export.h"
#include "catalog/create.h"
#include "containers/rw_lock.h"
#include "lang/tokenizer.h"
#include "ops/ops.h"
#include "persist/dump.h"
#include "startup/startup.h"

namespace nosql_db {
namespace {

using shared = read_guard;
using exclusive = std::unique_lock<rw_lock>;

// Get and set tokenize in the dispatcher: tokens 0..n-1, missing ones empty.
bool get_or_set(store& s, const char* line, int64_t len, datas* out, bool is_get) {
  token t[max_tokens];
  const int n = split_tokens(line, len, t);
  if (is_get ? (n < 3 || n > 5) : (n < 4 || n > 6)) return false;
  ab_adt* c = resolve_container(s, t[1]);
  if (!c) return false;
  if (is_get) return get_cmd(*c, t[2].view(), t[3].view(), t[4].view(), out);
  const std::string_view a = n >= 5 ? t[3].view() : std::string_view();
  const std::string_view b = n == 6 ? t[4].view() : std::string_view();
  return set_cmd(*c, t[2].view(), a, b, t[n - 1].view());
}

}  // namespace

bool exec_cmd(store& s, const char* line, int64_t len, datas* out) {
  if (!line || len == 0) return false;
  switch (line[0]) {
    case 'g': {
      shared l(s.lock);
      return get_or_set(s, line, len, out, true);
    }
    case 's': {
      shared l(s.lock);
      return get_or_set(s, line, len, out, false);
    }
    case 'k': {
      shared l(s.lock);
      return describe_cmd(s, line, len, out);
    }
    case 'i': {
      shared l(s.lock);
      return insert_cmd(s, line, len);
    }
    case 'd': {
      shared l(s.lock);
      return delete_cmd(s, line, len);
    }
    case 'e': {
      exclusive l(s.lock);
      return erase_cmd(s, line, len, out);
    }
    case 'r': {
      exclusive l(s.lock);
      return read_dump(s, line, len);
    }
    case 'b': {
      shared l(s.lock);
      return write_dump(s, line, len);
    }
    case 'c': {
      exclusive l(s.lock);
      if (len == 5) {
        clear_store(s);
        return true;
      }
      return create_container(s, line, len, out);
    }
    default:
      return false;
  }
}

// Start-up runs while the library loads, with this dispatcher for init.nos.
__attribute__((constructor)) static void on_library_load() { start_library(&exec_cmd); }

}  // namespace nosql_db

NOSQL_EXPORT datas* exec(const char* line, int32_t len) {
  nosql_db::store* s = nosql_db::global_store();
  if (!s) return nullptr;
  try {
    datas d;
    if (!nosql_db::exec_cmd(*s, line, len, &d)) return nullptr;
    // Most commands (insert, set, delete) answer with no columns.
    if (d.cols.empty()) return nosql_db::empty_result();
    return new datas(std::move(d));
  } catch (...) {
    // Memory exhaustion: the command failed, every lock is released.
    return nullptr;
  }
}
