// The map and multimap constructor; the classes are instantiated in
// map_inst_*.cc.
#include "containers/map.h"

namespace nosql_db {

std::unique_ptr<ab_adt> new_map(scalar key, scalar value, bool multi) {
  return visit_scalar(key, std::unique_ptr<ab_adt>(), [&]<class K>(type_tag<K>) {
    return visit_scalar(value, std::unique_ptr<ab_adt>(), [&]<class V>(type_tag<V>) -> std::unique_ptr<ab_adt> {
      if (multi) return std::make_unique<multimap_adt<K, V>>();
      return std::make_unique<map_adt<K, V>>();
    });
  });
}

}  // namespace nosql_db
