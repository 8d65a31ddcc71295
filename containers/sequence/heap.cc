// Instantiations of the heap for the fourteen element types.
#include "containers/sequence/heap.h"

namespace nosql_db {

#define NOSQL_INST_HEAP(tag, T, ...) template class heap_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_INST_HEAP)
#undef NOSQL_INST_HEAP

std::unique_ptr<ab_adt> new_heap(scalar key, scalar value) {
  return visit_scalar(key, std::unique_ptr<ab_adt>(), [&]<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> {
    return std::make_unique<heap_adt<K>>(value == scalar::u08);
  });
}

}  // namespace nosql_db
