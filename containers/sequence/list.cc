// Instantiations of the list for the fourteen element types, and the
// per-list handle salt.
#include "containers/sequence/list.h"

#include <atomic>

namespace nosql_db {

namespace {

// Consecutive lists get salts far apart (an odd step visits every 32-bit
// value before repeating), so their handles do not coincide.
constexpr uint32_t salt_step = 0x9e3779b9u;
constexpr uint32_t salt_step_inverse = [] {
  uint32_t x = salt_step;  // Newton's iteration for the inverse modulo 2^32
  for (int i = 0; i < 5; ++i) x *= 2 - salt_step * x;
  return x;
}();
static_assert(salt_step * salt_step_inverse == 1);
std::atomic<uint32_t> lists_made{0};

}  // namespace

uint32_t next_handle_salt() noexcept { return lists_made.fetch_add(1, std::memory_order_relaxed) * salt_step; }

void note_handle_salt(uint32_t salt) noexcept {
  // The lists made from now on take salts after this one's.
  const uint32_t after = salt * salt_step_inverse + 1;
  uint32_t now = lists_made.load(std::memory_order_relaxed);
  while (static_cast<int32_t>(after - now) > 0 &&
         !lists_made.compare_exchange_weak(now, after, std::memory_order_relaxed)) {
  }
}

#define NOSQL_INST_LIST(tag, T, ...) template class list_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_INST_LIST)
#undef NOSQL_INST_LIST

std::unique_ptr<ab_adt> new_list(scalar key) {
  return visit_scalar(key, std::unique_ptr<ab_adt>(),
                      []<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> { return std::make_unique<list_adt<K>>(); });
}

}  // namespace nosql_db
