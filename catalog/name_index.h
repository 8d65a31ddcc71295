// The name directory: each named container's name (a view of the
// container's own name string) and its vkey, in a hash table.
//
// Open addressing with linear probing, at most half full; a removal shifts
// the entries after it back, so there are no tombstones and a lookup stops
// at the first empty slot. The table only grows (by doubling), and
// insert allocates before it changes anything: std::bad_alloc leaves the
// index as it was. No locking: the store's lock guards it.
#pragma once

#include <cstdint>
#include <string_view>

namespace nosql_db {

class name_index {
 public:
  name_index() noexcept = default;
  name_index(const name_index&) = delete;
  name_index& operator=(const name_index&) = delete;
  ~name_index();

  uint64_t size() const noexcept { return n_; }
  // The vkey of name; false when no container has it.
  bool find(std::string_view name, uint32_t* v) const noexcept;
  // Adds name (which must stay valid while it is in the index).
  // REQUIRES name absent. May throw std::bad_alloc, changing nothing.
  void insert(std::string_view name, uint32_t v);
  // Removes name when present.
  void erase(std::string_view name) noexcept;
  void clear() noexcept;
  void swap(name_index& o) noexcept;

 private:
  struct entry {
    const char* p;  // null: an empty slot
    uint64_t len;
    uint64_t hash;
    uint32_t v;
  };
  static uint64_t hash_of(std::string_view s) noexcept;
  // The slot holding name, or the empty slot where the probe for it ends.
  uint64_t slot_of(std::string_view name, uint64_t h) const noexcept;
  void grow();

  entry* t_ = nullptr;
  uint64_t cap_ = 0;  // a power of two, or 0
  uint64_t n_ = 0;
};

}  // namespace nosql_db
