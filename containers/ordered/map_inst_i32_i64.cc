// Map and multimap classes for the key types int32_t and int64_t, every value type.
#include "containers/ordered/map.h"

namespace nosql_db {

NOSQL_INST_MAP_K(int32_t)
NOSQL_INST_MAP_K(int64_t)

}  // namespace nosql_db
