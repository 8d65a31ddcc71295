// Instantiations of the queue for the fourteen element types.
#include "containers/sequence/queue.h"

namespace nosql_db {

#define NOSQL_INST_QUEUE(tag, T, ...) template class queue_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_INST_QUEUE)
#undef NOSQL_INST_QUEUE

std::unique_ptr<ab_adt> new_queue(scalar key) {
  return visit_scalar(key, std::unique_ptr<ab_adt>(),
                      []<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> { return std::make_unique<queue_adt<K>>(); });
}

}  // namespace nosql_db
