// Map and multimap classes for the key types date and time, every value type.
#include "containers/ordered/map.h"

namespace nosql_db {

NOSQL_INST_MAP_K(date)
NOSQL_INST_MAP_K(time)

}  // namespace nosql_db
