// Map and multimap classes for the key types uint8_t and uint16_t, every value type.
#include "containers/ordered/map.h"

namespace nosql_db {

NOSQL_INST_MAP_K(uint8_t)
NOSQL_INST_MAP_K(uint16_t)

}  // namespace nosql_db
