// Instantiations of the deque for the fourteen element types.
#include "containers/sequence/deque.h"

namespace nosql_db {

#define NOSQL_INST_DEQUE(tag, T, ...) template class deque_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_INST_DEQUE)
#undef NOSQL_INST_DEQUE

std::unique_ptr<ab_adt> new_deque(scalar key) {
  return visit_scalar(key, std::unique_ptr<ab_adt>(),
                      []<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> { return std::make_unique<deque_adt<K>>(); });
}

}  // namespace nosql_db
