// Instantiations of the list for the fourteen element types, and the
// per-list handle salt.
#include "containers/list.h"

#include <atomic>

namespace nosql_db {

uint32_t next_handle_salt() noexcept {
  // Consecutive lists get salts far apart (an odd step visits every 32-bit
  // value before repeating), so their handles do not coincide.
  static std::atomic<uint32_t> lists{0};
  return lists.fetch_add(1, std::memory_order_relaxed) * 0x9e3779b9u;
}

#define NOSQL_INST_LIST(tag, T, ...) template class list_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_INST_LIST)
#undef NOSQL_INST_LIST

std::unique_ptr<ab_adt> new_list(scalar key) {
  return visit_scalar(key, std::unique_ptr<ab_adt>(),
                      []<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> { return std::make_unique<list_adt<K>>(); });
}

}  // namespace nosql_db
