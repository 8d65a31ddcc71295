// Constructors of every kind, one per kind source file. Each builds an empty
// container for the given types, or returns null when the types cannot be
// built for that kind. The factory (make_container) is their only caller.
#pragma once

#include <cstdint>
#include <memory>

#include "containers/container.h"

namespace nosql_db {

std::unique_ptr<ab_adt> new_vector(scalar key);
std::unique_ptr<ab_adt> new_list(scalar key);
std::unique_ptr<ab_adt> new_deque(scalar key);
std::unique_ptr<ab_adt> new_queue(scalar key);
std::unique_ptr<ab_adt> new_stack(scalar key);
std::unique_ptr<ab_adt> new_heap(scalar key, scalar value);
std::unique_ptr<ab_adt> new_set(scalar key, scalar value, bool multi);
std::unique_ptr<ab_adt> new_map(scalar key, scalar value, bool multi);
std::unique_ptr<ab_adt> new_hashmap(scalar key, scalar value, uint64_t capacity);
std::unique_ptr<ab_adt> new_hashtable(scalar key, scalar value, uint64_t capacity);
std::unique_ptr<ab_adt> new_trie(scalar key, scalar value);

}  // namespace nosql_db
