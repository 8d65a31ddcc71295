// The store: the slot table of containers, the free-vkey list and the name
// directory, guarded by the store lock.
//
// Locking: callers take `lock` shared for element commands and exclusive
// for anything that changes the catalog (create, clear, erase, read); every
// member below that changes state REQUIRES the exclusive lock.
// Invariants: a vkey is either in the free list or its slot holds a
// container; a name occurs at most once; the free list starts ascending,
// an erased vkey goes to its front, and creation takes its head.
//
// The free list is a doubly linked list over two index arrays. Each entry
// stores its link as an offset from the ascending default, so the freshly
// zeroed arrays already are the list 0, 1, ..., 2^20 - 1 and building the
// store touches no page of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "catalog/name_index.h"
#include "containers/container.h"
#include "containers/base/rw_lock.h"
#include "lang/tokenizer.h"

namespace nosql_db {

// Where a store's changes are journaled (durable mode); see persist/journal.
// A change takes its container's exclusive hold, reserves room for its
// record, makes the change, appends the record (or gives the room back)
// and lets go of the hold; then it settles. So the records of each
// container are in the order in which the changes took its lock.
class change_log {
 public:
  struct ticket {
    uint64_t file = 0;  // which journal file
    uint64_t end = 0;   // where the record ends in it
  };
  // Room for a record of n bytes, taken by a writer that saw snapshot
  // epoch `epoch`; false, with the reason recorded, when there is none (the
  // change must not be made then).
  virtual bool reserve(uint64_t epoch, uint64_t n) = 0;
  virtual void unreserve(uint64_t epoch, uint64_t n) noexcept = 0;
  // Appends a record in the room reserved for it: exactly its size, or
  // (append_within) `reserved` bytes reserved before the record's size was
  // known, the rest of which is given back.
  virtual ticket append(uint64_t epoch, std::string_view record) noexcept = 0;
  virtual ticket append_within(uint64_t epoch, std::string_view record, uint64_t reserved) noexcept = 0;
  // Waits until the record is as safe as the sync mode promises; false,
  // with the reason recorded, when it could not be made so.
  virtual bool settle(ticket t) = 0;

 protected:
  ~change_log() = default;
};

class store {
 public:
  static constexpr uint64_t slot_count = uint64_t{1} << 20;

  store();  // throws std::bad_alloc
  ~store();
  store(const store&) = delete;
  store& operator=(const store&) = delete;

  mutable rw_lock lock;

  // The journal of this store's changes, or null (durable mode is off).
  // Changed only under the exclusive lock.
  change_log* log() const noexcept { return log_; }
  void set_log(change_log* l) noexcept { log_ = l; }

  // The container in slot v, or null for an empty slot or v out of range.
  ab_adt* at(uint64_t v) const noexcept { return v < slot_count ? slots_[v] : nullptr; }
  uint64_t container_count() const noexcept { return slot_count - free_count_; }
  uint64_t free_count() const noexcept { return free_count_; }

  // Free list. free_head() REQUIRES free_count() > 0.
  uint64_t free_head() const noexcept { return head_; }
  // Moves a free vkey to the front of the free list; false when v is out of
  // range or occupied.
  bool move_to_front(uint64_t v) noexcept;

  // Puts c into the slot at the head of the free list, registering its name
  // (non-empty names only). REQUIRES free_count() > 0 and a name not in use.
  uint64_t add(std::unique_ptr<ab_adt> c);
  // Empties slot v, drops its name and pushes v to the front of the free
  // list; returns the container (null when the slot was empty).
  std::unique_ptr<ab_adt> remove(uint64_t v) noexcept;
  // Destroys every container and returns to the freshly built state.
  void clear() noexcept;

  bool find_name(std::string_view name, uint64_t* v) const noexcept;

  // Exchanges everything but the lock and the journal with another store:
  // containers, names and the free list.
  void swap(store& o) noexcept;
  // The free vkeys in the order creation takes them, up to where the rest
  // is every other free vkey in ascending order (which is how a store
  // starts, and how a checkpoint restores it). A checkpoint keeps these.
  std::vector<uint32_t> free_prefix() const;
  // Makes the free list start with these free vkeys, in this order; false
  // (nothing changed) when one is not free or appears twice. May throw
  // std::bad_alloc.
  bool set_free_prefix(const std::vector<uint32_t>& prefix);

 private:
  uint32_t next(uint32_t v) const noexcept { return v + 1 + next_delta_[v]; }
  uint32_t prev(uint32_t v) const noexcept { return v - 1 + prev_delta_[v]; }
  void set_next(uint32_t v, uint32_t to) noexcept { next_delta_[v] = to - (v + 1); }
  void set_prev(uint32_t v, uint32_t to) noexcept { prev_delta_[v] = to - (v - 1); }
  static bool is_nil(uint32_t v) noexcept { return v >= slot_count; }
  void unlink_free(uint32_t v) noexcept;
  void push_free_front(uint32_t v) noexcept;
  void reset_free_list() noexcept;


  ab_adt** slots_ = nullptr;        // slot_count entries
  uint32_t* next_delta_ = nullptr;  // slot_count entries
  uint32_t* prev_delta_ = nullptr;  // slot_count entries
  uint32_t head_ = 0;
  uint32_t tail_ = slot_count - 1;
  uint64_t free_count_ = slot_count;
  // Name -> vkey, views of the containers' own names.
  name_index names_;
  change_log* log_ = nullptr;
};

// Resolves a container reference: a quoted non-empty name is looked up in
// the name directory; anything else is read as a decimal or 0x-hexadecimal
// number (an empty token reads as 0). Only the reading; the caller checks
// the slot. False, with the reason recorded, for an unknown name or a token
// that is no number.
bool find_container_id(const store& s, const token& t, bool is_name, uint64_t* out) noexcept;

// find_container_id plus the slot check: the container (and its vkey in
// *vkey when vkey is not null), or null with the reason recorded.
ab_adt* resolve_container(const store& s, const token& t, uint64_t* vkey = nullptr) noexcept;

}  // namespace nosql_db
