// The map and multimap constructor. The classes, and the constructor for
// each key type (new_map_of), are instantiated in map_inst_*.cc.
#include "containers/ordered/map.h"

namespace nosql_db {

std::unique_ptr<ab_adt> new_map(scalar key, scalar value, bool multi) {
  return visit_scalar(key, std::unique_ptr<ab_adt>(),
                      [&]<class K>(type_tag<K>) { return new_map_of<K>(value, multi); });
}

}  // namespace nosql_db
