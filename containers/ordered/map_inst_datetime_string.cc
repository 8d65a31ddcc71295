// Map and multimap classes for the key types date_time and xstring, every value type.
#include "containers/ordered/map.h"

namespace nosql_db {

NOSQL_INST_MAP_K(date_time)
NOSQL_INST_MAP_K(xstring)

}  // namespace nosql_db
