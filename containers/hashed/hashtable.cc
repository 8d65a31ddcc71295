// Instantiations of the hashtable for the eight integer key types, and its
// constructor (a placeholder for every other key type).
#include "containers/hashed/hashtable.h"

namespace nosql_db {

#define NOSQL_INST_HT(tag, K) template class ht_adt<K>;
NOSQL_FOR_EACH_HASH_KEY(NOSQL_INST_HT)
#undef NOSQL_INST_HT

std::unique_ptr<ab_adt> new_hashtable(scalar key, scalar value, uint64_t capacity) {
  if (value == scalar::none) return nullptr;
  return visit_scalar(key, std::unique_ptr<ab_adt>(), [&]<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> {
    if constexpr (std::is_integral_v<K>) {
      return std::make_unique<ht_adt<K>>(value, capacity);
    } else {
      return std::make_unique<placeholder_adt>(kind::hashtable_not_allowed, key, desc_of(key), u08_desc);
    }
  });
}

}  // namespace nosql_db
