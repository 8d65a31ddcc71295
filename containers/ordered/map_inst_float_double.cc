// Map and multimap classes for the key types float and double, every value type.
#include "containers/ordered/map.h"

namespace nosql_db {

NOSQL_INST_MAP_K(float)
NOSQL_INST_MAP_K(double)

}  // namespace nosql_db
