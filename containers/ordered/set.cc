// Instantiations of set and multiset for the fourteen key types, and their
// constructor.
#include "containers/ordered/set.h"

namespace nosql_db {

#define NOSQL_INST_SET(tag, T, ...)         \
  template class ordered_adt<T, false, false>; \
  template class ordered_adt<T, false, true>;  \
  template class ordered_set_adt<T, false>;   \
  template class ordered_set_adt<T, true>;
NOSQL_FOR_EACH_SCALAR(NOSQL_INST_SET)
#undef NOSQL_INST_SET

std::unique_ptr<ab_adt> new_set(scalar key, scalar value, bool multi) {
  const type_desc val = desc_of(value);
  return visit_scalar(key, std::unique_ptr<ab_adt>(), [&]<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> {
    if (multi) return std::make_unique<multiset_adt<K>>(val);
    return std::make_unique<set_adt<K>>(val);
  });
}

}  // namespace nosql_db
