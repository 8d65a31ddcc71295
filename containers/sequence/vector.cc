// Instantiations of the vector for the fourteen element types.
#include "containers/sequence/vector.h"

namespace nosql_db {

#define NOSQL_INST_VEC(tag, T, ...) template class vec_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_INST_VEC)
#undef NOSQL_INST_VEC

std::unique_ptr<ab_adt> new_vector(scalar key) {
  return visit_scalar(key, std::unique_ptr<ab_adt>(),
                      []<class K>(type_tag<K>) -> std::unique_ptr<ab_adt> { return std::make_unique<vec_adt<K>>(); });
}

}  // namespace nosql_db
