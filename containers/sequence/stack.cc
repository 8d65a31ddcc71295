// Instantiations of the stack for the fourteen element types.
#include "containers/sequence/stack.h"

namespace nosql_db {

#define NOSQL_INST_STACK(tag, T, ...) template class stack_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_INST_STACK)
#undef NOSQL_INST_STACK

std::unique_ptr<ab_adt> new_stack(scalar key) {
  return visit_scalar(key, std::unique_ptr<ab_adt>(),
                      []<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> { return std::make_unique<stack_adt<K>>(); });
}

}  // namespace nosql_db
