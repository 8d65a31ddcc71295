// Map and multimap classes for the key types int8_t and int16_t, every value type.
#include "containers/ordered/map.h"

namespace nosql_db {

NOSQL_INST_MAP_K(int8_t)
NOSQL_INST_MAP_K(int16_t)

}  // namespace nosql_db
