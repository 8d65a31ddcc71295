// Slot arithmetic of a direct-address table over an integer key type: every
// possible key has its own slot, the key minus the smallest value of its
// type, computed in u64 arithmetic, so signed keys start at slot 0 with their
// most negative value. The hash kinds store by it, and the commands that
// explain their refusals ask it where a key would go.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace nosql_db {

template <class K>
struct slot_of {
  static_assert(std::is_integral_v<K>);
  static constexpr uint64_t base = static_cast<uint64_t>(static_cast<int64_t>(std::numeric_limits<K>::min()));
  static uint64_t index(K k) noexcept { return static_cast<uint64_t>(k) - base; }
  static K key(uint64_t i) noexcept { return static_cast<K>(i + base); }
  // Whether k has a slot in a table of capacity slots.
  static bool fits(K k, uint64_t capacity) noexcept { return index(k) < capacity; }
  // min(capacity, number of values of K): the walk bound.
  static uint64_t bound(uint64_t capacity) noexcept {
    if constexpr (sizeof(K) >= 8) return capacity;
    else return std::min<uint64_t>(capacity, uint64_t{1} << (8 * sizeof(K)));
  }
};

}  // namespace nosql_db
