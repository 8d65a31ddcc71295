// The hashmap's cell array, its constructor, and its instantiations for the
// signed key types (the unsigned ones are in hashmap_unsigned.cc).
#include "containers/hashed/hashmap.h"

namespace nosql_db {

slot_cells::slot_cells(uint64_t capacity) {
  // Nothing larger than the user address space (2^47 bytes) can be mapped;
  // refusing it here also keeps the byte count from overflowing.
  constexpr uint64_t max_bytes = uint64_t{1} << 47;
  if (capacity > max_bytes / sizeof(uintptr_t)) throw std::bad_alloc();
  if (capacity == 0) return;
  cells_ = static_cast<uintptr_t*>(std::calloc(capacity, sizeof(uintptr_t)));
  if (!cells_) throw std::bad_alloc();
  capacity_ = capacity;
}

NOSQL_INST_HM_K(int8_t)
NOSQL_INST_HM_K(int16_t)
NOSQL_INST_HM_K(int32_t)
NOSQL_INST_HM_K(int64_t)

std::unique_ptr<ab_adt> new_hashmap(scalar key, scalar value, uint64_t capacity) {
  const auto build = [&]<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> {
    if constexpr (!std::is_integral_v<K>) {
      return std::make_unique<placeholder_adt>(kind::hashmap_not_allowed, key, desc_of(key), u08_desc);
    } else {
      return visit_scalar(value, std::unique_ptr<ab_adt>(), [&]<class V>(type_tag<V>) -> std::unique_ptr<ab_adt> {
        return std::make_unique<hm_adt<K, V>>(capacity);
      });
    }
  };
  return visit_scalar(key, std::unique_ptr<ab_adt>(), build);
}

}  // namespace nosql_db
