// The one place that maps a kind and its types to a container class.
#include "containers/container.h"
#include "containers/kinds.h"

namespace nosql_db {

std::unique_ptr<ab_adt> make_container(kind k, scalar key, scalar value, uint64_t buckets) {
  if (key == scalar::none || value == scalar::none) return nullptr;
  switch (k) {
    case kind::vector: return new_vector(key);
    case kind::list: return new_list(key);
    case kind::deque: return new_deque(key);
    case kind::queue: return new_queue(key);
    case kind::stack: return new_stack(key);
    case kind::heap: return new_heap(key, value);
    case kind::set: return new_set(key, value, false);
    case kind::multiset: return new_set(key, value, true);
    case kind::map: return new_map(key, value, false);
    case kind::multimap: return new_map(key, value, true);
    case kind::hashmap: return new_hashmap(key, value, buckets);
    case kind::hashtable: return new_hashtable(key, value, buckets);
    case kind::trie: return new_trie(key, value);
    default: return nullptr;
  }
}

}  // namespace nosql_db
