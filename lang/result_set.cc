// Result-set cells and columns: copying, text ownership, the shared empty
// result and column building.
#include "lang/result_set.h"

#include <cstdlib>
#include <new>

namespace nosql_db {

datas* empty_result() noexcept {
  // Built on first use in storage of its own and never destroyed, so it
  // outlives every thread that may still return or free it at exit.
  alignas(datas) static unsigned char storage[sizeof(datas)];
  static datas* const shared = ::new (storage) datas();
  return shared;
}

namespace {

// One spare result-set block per thread, reached through static TLS (a
// plain pointer: a library that a host loads late has little of that room)
// and freed when the thread ends by an owner in ordinary TLS.
thread_local void* spare [[gnu::tls_model("initial-exec")]] = nullptr;
// Whether this thread's owner is registered: tested instead of touching the
// owner, whose every use is a dynamic TLS lookup.
thread_local bool spare_owned [[gnu::tls_model("initial-exec")]] = false;
struct spare_owner {
  ~spare_owner() {
    ::operator delete(spare);
    spare = nullptr;
  }
};
thread_local spare_owner t_spare_owner;

}  // namespace

datas* new_result() {
  void* mem = spare;
  if (mem) spare = nullptr;
  else mem = ::operator new(sizeof(datas));
  return ::new (mem) datas();
}

void free_result(datas* d) noexcept {
  d->~datas();
  if (spare) {
    ::operator delete(d);
    return;
  }
  if (!spare_owned) {
    (void)&t_spare_owner;  // first use: its destructor runs at thread exit
    spare_owned = true;
  }
  spare = d;
}

datas_col& add_column(datas* d, std::string_view name, type_desc desc) {
  datas_col& c = d->cols.emplace_back();
  if (!name.empty()) c.name.assign(name.data(), name.size());
  c.desc = desc;
  return c;
}

}  // namespace nosql_db
