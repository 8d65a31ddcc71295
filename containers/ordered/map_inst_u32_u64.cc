// Map and multimap classes for the key types uint32_t and uint64_t, every value type.
#include "containers/ordered/map.h"

namespace nosql_db {

NOSQL_INST_MAP_K(uint32_t)
NOSQL_INST_MAP_K(uint64_t)

}  // namespace nosql_db
