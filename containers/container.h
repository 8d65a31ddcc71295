// The container family: ab_adt (what every container has) and adt<K> (every
// element operation over key or element type K, each answering false by
// default).
//
// Each kind derives from adt<K> and overrides what it supports. Operations
// that carry a value of the value type V (ins_key, get_value, set_value)
// take it as a value_ref / value_list_ref tagged with its scalar type; a
// container answers false when the tag is not its own value type, so a
// mismatch can never reach memory.
//
// Locking: every implemented operation takes the container's own lock for
// its whole body, shared for reads and save, exclusive for changes and
// load. Callers hold the store lock first and never two container locks.
// Errors: bad arguments give false and leave the container unchanged; only
// memory exhaustion throws (std::bad_alloc), with the container unchanged
// and the lock released.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "containers/base/elem_array.h"
#include "containers/base/rw_lock.h"
#include "lang/scalar.h"

namespace nosql_db {

class dump_out;
class dump_in;

// The kinds, as X(enumerator, word), in enumeration order; the last two
// are the placeholders (placeholder_adt). DO NOT REORDER OR REWORD: the
// words are part of the dump file.
// Format: docs/FORMATS.md, "Kind words".
#define NOSQL_FOR_EACH_KIND(X)                          \
  X(vector, "vector")                                   \
  X(list, "list")                                       \
  X(deque, "deque")                                     \
  X(queue, "queue")                                     \
  X(stack, "stack")                                     \
  X(heap, "heap")                                       \
  X(set, "set")                                         \
  X(multiset, "multiset")                               \
  X(map, "map")                                         \
  X(multimap, "multimap")                               \
  X(hashmap, "hashmap")                                 \
  X(hashtable, "hashtable")                             \
  X(trie, "trie")                                       \
  X(hashmap_not_allowed, "hashmap_not_allowed")         \
  X(hashtable_not_allowed, "hashtable_not_allowed")

enum class kind : uint8_t {
#define NOSQL_KIND_ENUMERATOR(e, word) e,
  NOSQL_FOR_EACH_KIND(NOSQL_KIND_ENUMERATOR)
#undef NOSQL_KIND_ENUMERATOR
};
#define NOSQL_KIND_ONE(e, word) +1
inline constexpr int kind_count = 0 NOSQL_FOR_EACH_KIND(NOSQL_KIND_ONE);
#undef NOSQL_KIND_ONE

// The kinds that only stand in for a hashmap or hashtable over a key type
// those kinds refuse: they take no element commands and are never saved.
constexpr bool is_placeholder_kind(kind k) noexcept {
  return k == kind::hashmap_not_allowed || k == kind::hashtable_not_allowed;
}

std::string_view kind_word(kind k) noexcept;
// The kind whose word equals w exactly (only the real kinds, not the
// placeholders).
bool kind_from_word(std::string_view w, kind* out) noexcept;

// A value of the container's value type, tagged with that type.
struct value_ref {
  scalar type;
  const void* p;
};
// A result list (elem_array<V>*) of the container's value type.
struct value_list_ref {
  scalar type;
  void* list;
};

// The calling thread's token: never 0, different for every thread the
// process has had (until four billion of them).
extern thread_local uint32_t thread_token_value [[gnu::tls_model("initial-exec")]];
uint32_t new_thread_token() noexcept;
inline uint32_t thread_token() noexcept {
  const uint32_t t = thread_token_value;
  return t != 0 ? t : new_thread_token();
}

class ab_adt {
 public:
  ab_adt(kind k, scalar key_type, type_desc key_desc, type_desc val_desc) noexcept;
  ab_adt(const ab_adt&) = delete;
  ab_adt& operator=(const ab_adt&) = delete;
  virtual ~ab_adt();

  virtual uint64_t size() const { return 0; }
  // Writes the record from the kind word on (kind, descriptors, body).
  // REQUIRES the container's lock, held by the caller (shared or
  // exclusive): the writer of a snapshot decides under it what to write.
  // Format: docs/FORMATS.md, "Container record"; each kind cites its body's section.
  virtual bool save(dump_out&) const { return false; }
  // Reads the body (hashmap/hashtable: from the count on) and adds every
  // element as the kind's insertion adds it. False on a short or bad body.
  virtual bool load(dump_in&) { return false; }
  // What a checkpoint keeps beyond the dump record (a list's position
  // handles): written after save, read after load. Nothing for most kinds.
  // save_extras REQUIRES the lock as save does; load_extras takes it.
  virtual void save_extras(dump_out&) const {}
  virtual bool load_extras(dump_in&) { return true; }

  // ---- Taking changes back (atomic batches) ----
  // Between begin_undo() and the end_undo() or rollback() that follows it,
  // every change the container makes also records how to take it back,
  // in memory in proportion to what the change changed, never to the
  // container's size. rollback() takes back every change made since
  // begin_undo(), newest first, and leaves the container exactly as it was
  // at begin_undo(): the same elements in the same order, the same list
  // handles naming the same elements and the same handle table (so the
  // handles it gives out next are the ones it would have given), the same
  // storage order where one shows (a heap's array, a hash table's slots).
  // Nothing that looks at the container afterwards (a dump, a checkpoint
  // with its handle tables, a journal replayed elsewhere) can tell the
  // changes were ever made. end_undo() keeps the changes and drops the
  // record.
  // REQUIRES the calling thread to hold the container exclusively from
  // begin_undo() to the end (containers/hold.h), and no nesting.
  // Errors: begin_undo() and a recording change may throw std::bad_alloc (a
  // change that throws is not made and leaves no record, as always);
  // rollback() and end_undo() never fail: what rolling back needs (removed
  // elements and nodes, old values, room) is kept when the change is made.
  // A container that cannot change (the placeholder) records nothing.
  virtual void begin_undo() {}
  virtual void end_undo() noexcept {}
  virtual void rollback() noexcept {}

  bool get_count(uint64_t* out) const {
    *out = size();
    return true;
  }

  // The container's lock, who holds it over several operations, and the
  // last snapshot epoch it was handled for (containers/hold.h).
  rw_lock& lock() const noexcept { return lock_; }
  std::atomic<uint32_t>& holder() const noexcept { return holder_; }
  bool held_here() const noexcept {
    const uint32_t h = holder_.load(std::memory_order_relaxed);
    return h != 0 && h == thread_token();  // mostly nobody holds it: no thread-local read then
  }
  std::atomic<uint64_t>& snapshot_epoch() const noexcept { return snapshot_epoch_; }

  kind kind_id() const noexcept { return kind_; }
  // A placeholder (placeholder_adt) takes no element commands and is left
  // out of dumps and checkpoints.
  bool is_placeholder() const noexcept { return is_placeholder_kind(kind_); }
  std::string_view kind_name() const noexcept { return kind_word(kind_); }
  // The K of adt<K> that this object implements.
  scalar key_type() const noexcept { return key_type_; }
  type_desc key_desc() const noexcept { return key_desc_; }
  type_desc val_desc() const noexcept { return val_desc_; }
  scalar value_type() const noexcept { return scalar_of(val_desc_); }
  const xstring& name() const noexcept { return name_; }
  // A number no other container of this process has had: tells a container
  // from a later one in the same slot (and at the same address).
  uint64_t serial() const noexcept { return serial_; }
  void set_name(std::string_view n) { name_.assign(n.data(), n.size()); }

 private:
  kind kind_;
  scalar key_type_;
  type_desc key_desc_;
  type_desc val_desc_;
  xstring name_;
  uint64_t serial_;
  mutable rw_lock lock_;
  mutable std::atomic<uint32_t> holder_{0};
  mutable std::atomic<uint64_t> snapshot_epoch_{0};

  static uint64_t next_serial() noexcept;
};

// Element operations over K, the contract every kind implements.
//
// Every operation answers true when the kind answers it and it succeeded,
// false when the kind does not answer it (the default below) or refuses
// it; ops/refusal.h tells the two apart for the failure reason. Each takes
// the container's lock itself (shared for reads, exclusive for the rest)
// unless the calling thread holds the container (containers/hold.h).
// Changes may throw std::bad_alloc; a change that throws is not made.
//
// Words used below:
//   - position: from 1 (vector, list, deque: the element's place in the
//     sequence). The deque's ins_nth alone takes an index from 0, the place
//     the new element will have, 0 to size() inclusive.
//   - index: from 0, the place of the first element equal to a key.
//   - handle: a list node's number, given at insertion and kept until the
//     node is deleted; 0 names no node.
//   - rank: how many stored keys are smaller (set, multiset).
//   - key bounds lo, hi: the keys from lo up to hi. In get_lt_ge and its
//     kin the first pair is hi's test (lt: below hi, le: not above it) and
//     the second lo's (gt: above lo, ge: not below it).
//   - size(): the number of elements, except hashmap and hashtable: their
//     bucket count, which stays fixed.
// Out-parameters hold the answer only when the call answers true; after
// false their contents are unspecified. A list* is replaced by the answer,
// not appended to.
template <class K>
class adt : public ab_adt {
 public:
  using key_type_t = K;
  using list = elem_array<K>;
  using ab_adt::ab_adt;

  // ---- Reads: never change the container ----
  // One element: at a position, by list handle, at either end, the
  // smallest or largest key.
  virtual bool get_nth(uint64_t /*position*/, K* /*out*/) const { return false; }
  virtual bool get_at_pos(uint64_t /*handle*/, K* /*out*/) const { return false; }
  virtual bool get_first(K* /*out*/) const { return false; }
  virtual bool get_last(K* /*out*/) const { return false; }
  virtual bool get_min(K* /*out*/) const { return false; }
  virtual bool get_max(K* /*out*/) const { return false; }
  // A number: the rank or index of key, the handle of the first node equal
  // to key, the next or previous node's handle (0 past an end).
  virtual bool get_rank(const K& /*key*/, uint64_t* /*out*/) const { return false; }
  virtual bool get_index(const K& /*key*/, uint64_t* /*out*/) const { return false; }
  virtual bool get_pos(const K& /*key*/, uint64_t* /*out*/) const { return false; }
  virtual bool get_next_pos(uint64_t /*handle*/, uint64_t* /*out*/) const { return false; }
  virtual bool get_prev_pos(uint64_t /*handle*/, uint64_t* /*out*/) const { return false; }
  // A list, in the container's order (ascending for keyed kinds): every
  // element, positions from..to, the first or last n, the n smallest or
  // largest (ascending either way), keys equal to, above, below or between
  // bounds.
  virtual bool get_all(list* /*out*/) const { return false; }
  virtual bool get_range(uint64_t /*from*/, uint64_t /*to*/, list* /*out*/) const { return false; }
  virtual bool get_first_n(uint64_t /*n*/, list* /*out*/) const { return false; }
  virtual bool get_last_n(uint64_t /*n*/, list* /*out*/) const { return false; }
  virtual bool get_min_n(uint64_t /*n*/, list* /*out*/) const { return false; }
  virtual bool get_max_n(uint64_t /*n*/, list* /*out*/) const { return false; }
  virtual bool get_eq(const K& /*key*/, list* /*out*/) const { return false; }
  virtual bool get_gt(const K& /*key*/, list* /*out*/) const { return false; }
  virtual bool get_lt(const K& /*key*/, list* /*out*/) const { return false; }
  virtual bool get_ge(const K& /*key*/, list* /*out*/) const { return false; }
  virtual bool get_le(const K& /*key*/, list* /*out*/) const { return false; }
  virtual bool get_le_ge(const K& /*lo*/, const K& /*hi*/, list* /*out*/) const { return false; }
  virtual bool get_lt_ge(const K& /*lo*/, const K& /*hi*/, list* /*out*/) const { return false; }
  virtual bool get_le_gt(const K& /*lo*/, const K& /*hi*/, list* /*out*/) const { return false; }
  virtual bool get_lt_gt(const K& /*lo*/, const K& /*hi*/, list* /*out*/) const { return false; }
  // The trie's membership, exact or blind to ASCII case; the value(s)
  // stored under key, into a result list of the value type.
  virtual bool get_contains(const xstring& /*text*/, bool* /*found*/) const { return false; }
  virtual bool get_contains_nocase(const xstring& /*text*/, bool* /*found*/) const { return false; }
  virtual bool get_value(const K& /*key*/, value_list_ref /*out*/) const { return false; }

  // ---- Deletions: the same selections as the reads ----
  // Removing from an empty sequence end, or keys that match nothing,
  // succeeds where the command reference says it does (ops/refusal.h).
  virtual bool del_all() { return false; }
  virtual bool del_nth(uint64_t /*position*/) { return false; }
  virtual bool del_at_pos(uint64_t /*handle*/) { return false; }
  virtual bool del_first() { return false; }
  virtual bool del_last() { return false; }
  virtual bool del_min() { return false; }
  virtual bool del_max() { return false; }
  virtual bool del_range(uint64_t /*from*/, uint64_t /*to*/) { return false; }
  virtual bool del_first_n(uint64_t /*n*/) { return false; }
  virtual bool del_last_n(uint64_t /*n*/) { return false; }
  virtual bool del_min_n(uint64_t /*n*/) { return false; }
  virtual bool del_max_n(uint64_t /*n*/) { return false; }
  virtual bool del_eq(const K& /*key*/) { return false; }
  virtual bool del_gt(const K& /*key*/) { return false; }
  virtual bool del_lt(const K& /*key*/) { return false; }
  virtual bool del_ge(const K& /*key*/) { return false; }
  virtual bool del_le(const K& /*key*/) { return false; }
  virtual bool del_le_ge(const K& /*lo*/, const K& /*hi*/) { return false; }
  virtual bool del_lt_ge(const K& /*lo*/, const K& /*hi*/) { return false; }
  virtual bool del_le_gt(const K& /*lo*/, const K& /*hi*/) { return false; }
  virtual bool del_lt_gt(const K& /*lo*/, const K& /*hi*/) { return false; }

  // ---- Insertions ----
  // At a position (the deque: an index from 0), at either end, after a list
  // node, or by key with its value (which kinds without values ignore; a
  // set, map or hash kind refuses a key already there).
  virtual bool ins_nth(uint64_t /*position*/, const K& /*x*/) { return false; }
  virtual bool ins_first(const K& /*x*/) { return false; }
  virtual bool ins_last(const K& /*x*/) { return false; }
  virtual bool ins_at_pos(uint64_t /*handle*/, const K& /*x*/) { return false; }
  virtual bool ins_key(const K& /*key*/, value_ref /*value*/) { return false; }

  // ---- Overwrites and re-keys ----
  // Sequences overwrite the selected elements with x in place. Keyed kinds
  // re-key: the selected keys are removed and x is inserted for each (a
  // map's entry keeps its value), all or nothing. set_value replaces the
  // value(s) stored under key.
  virtual bool set_all(const K& /*x*/) { return false; }
  virtual bool set_nth(uint64_t /*position*/, const K& /*x*/) { return false; }
  virtual bool set_at_pos(uint64_t /*handle*/, const K& /*x*/) { return false; }
  virtual bool set_first(const K& /*x*/) { return false; }
  virtual bool set_last(const K& /*x*/) { return false; }
  virtual bool set_min(const K& /*x*/) { return false; }
  virtual bool set_max(const K& /*x*/) { return false; }
  virtual bool set_range(uint64_t /*from*/, uint64_t /*to*/, const K& /*x*/) { return false; }
  virtual bool set_first_n(uint64_t /*n*/, const K& /*x*/) { return false; }
  virtual bool set_last_n(uint64_t /*n*/, const K& /*x*/) { return false; }
  virtual bool set_min_n(uint64_t /*n*/, const K& /*x*/) { return false; }
  virtual bool set_max_n(uint64_t /*n*/, const K& /*x*/) { return false; }
  virtual bool set_eq(const K& /*key*/, const K& /*x*/) { return false; }
  virtual bool set_gt(const K& /*key*/, const K& /*x*/) { return false; }
  virtual bool set_lt(const K& /*key*/, const K& /*x*/) { return false; }
  virtual bool set_ge(const K& /*key*/, const K& /*x*/) { return false; }
  virtual bool set_le(const K& /*key*/, const K& /*x*/) { return false; }
  virtual bool set_le_ge(const K& /*lo*/, const K& /*hi*/, const K& /*x*/) { return false; }
  virtual bool set_lt_ge(const K& /*lo*/, const K& /*hi*/, const K& /*x*/) { return false; }
  virtual bool set_le_gt(const K& /*lo*/, const K& /*hi*/, const K& /*x*/) { return false; }
  virtual bool set_lt_gt(const K& /*lo*/, const K& /*hi*/, const K& /*x*/) { return false; }
  virtual bool set_value(const K& /*key*/, value_ref /*value*/) { return false; }
};

// The placeholder for a hashmap or hashtable over a key type those kinds
// refuse: a header, size 0, and no operations.
class placeholder_adt final : public ab_adt {
 public:
  using ab_adt::ab_adt;
};

// Builds an empty container. Returns null when a type is scalar::none or
// the kind/type pair cannot be built. Throws std::bad_alloc when storage
// (a hashmap's slot array, say) cannot be allocated.
std::unique_ptr<ab_adt> make_container(kind k, scalar key, scalar value, uint64_t buckets);

}  // namespace nosql_db
