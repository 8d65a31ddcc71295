// Result-set cells and columns: copying, text ownership, the shared empty
// result and column building.
#include "lang/result_set.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace nosql_db {

datas* empty_result() noexcept {
  // Built on first use in storage of its own and never destroyed, so it
  // outlives every thread that may still return or free it at exit.
  alignas(datas) static unsigned char storage[sizeof(datas)];
  static datas* const shared = ::new (storage) datas();
  return shared;
}

namespace {

// Two spare result-set blocks per thread (a batch's answers come back two
// or more at a time), reached through static TLS (plain pointers: a library
// that a host loads late has little of that room) and freed when the
// thread ends by an owner in ordinary TLS.
[[gnu::tls_model("initial-exec")]] thread_local void* spare[2] = {nullptr, nullptr};
// Whether this thread's owner is registered: tested instead of touching the
// owner, whose every use is a dynamic TLS lookup.
thread_local bool spare_owned [[gnu::tls_model("initial-exec")]] = false;
struct spare_owner {
  ~spare_owner() {
    for (void*& p : spare) {
      ::operator delete(p);
      p = nullptr;
    }
  }
};
thread_local spare_owner t_spare_owner;

}  // namespace

datas* new_result() {
  void* mem;
  if (spare[0]) mem = std::exchange(spare[0], nullptr);
  else if (spare[1]) mem = std::exchange(spare[1], nullptr);
  else mem = ::operator new(sizeof(datas));
  return ::new (mem) datas();
}

void free_result(datas* d) noexcept {
  d->~datas();
  void** slot = !spare[0] ? &spare[0] : !spare[1] ? &spare[1] : nullptr;
  if (!slot) {
    ::operator delete(d);
    return;
  }
  if (!spare_owned) {
    (void)&t_spare_owner;  // first use: its destructor runs at thread exit
    spare_owned = true;
  }
  *slot = d;
}

datas_col& add_column(datas* d, std::string_view name, type_desc desc) {
  datas_col& c = d->cols.emplace_back();
  if (!name.empty()) c.name.assign(name.data(), name.size());
  c.desc = desc;
  return c;
}

}  // namespace nosql_db

namespace {

uint32_t width_of(nosql_db::type_desc d) noexcept { return d.size < 3 ? 1u << d.size : 8; }

// Where an empty number column points: a valid address for no values.
alignas(8) const unsigned char no_values[8] = {};

}  // namespace

const void* datas_col::values(uint64_t* n) const noexcept {
  if (!is_number()) return nullptr;
  if (packed_) {
    if (n) *n = rows_;
    return packed_;
  }
  if (n) *n = cells_.size();
  // A single number starts the value bytes of its cell.
  return cells_.empty() ? static_cast<const void*>(no_values) : cells_[0].value;
}

void datas_col::append_packed(const void* p, uint64_t n, uint32_t width) {
  if (n == 0) return;
  const uint64_t have = rows();
  if (!packed_ || (have + n) * width > packed_cap_) {
    if (have + n > (uint64_t{1} << 58) / width) throw std::bad_alloc();
    const uint64_t cap = std::max<uint64_t>(2 * (have + n) * width, 64);
    char* fresh = static_cast<char*>(::operator new(cap));
    if (packed_) std::memcpy(fresh, packed_, have * width);
    else if (have == 1) std::memcpy(fresh, cells_[0].value, width);
    ::operator delete(packed_);
    packed_ = fresh;
    packed_cap_ = cap;
    cells_.clear();
  }
  std::memcpy(packed_ + have * width, p, n * width);
  rows_ = have + n;
}

datas_cell* datas_col::make_cells() const noexcept {
  datas_cell* m = new (std::nothrow) datas_cell[rows_];
  if (!m) return nullptr;
  const uint32_t w = width_of(desc);
  for (uint64_t i = 0; i < rows_; ++i) std::memcpy(m[i].value, packed_ + i * w, w);
  datas_cell* expected = nullptr;
  if (made_.compare_exchange_strong(expected, m, std::memory_order_acq_rel, std::memory_order_acquire)) return m;
  delete[] m;  // another reader made them first
  return expected;
}
