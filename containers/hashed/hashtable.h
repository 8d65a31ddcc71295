// ht_adt<K>: the "hashtable" kind, a set of integer keys in a direct-address
// table (see hashmap.h for the slot arithmetic, capacity and walks, which
// the two kinds share through hm_base<K>).
//
// A filled cell holds the key's own copy, encoded in the cell as slot index
// + 1 (0 is the empty cell), so a hashtable needs no heap cell per key:
// memory is exactly one pointer-sized cell per slot.
//
// The value type carries no data. The catalog builds hashtables with value
// type u08; ins_key answers only for such a table (any other value type
// gives a table that can be read and cleared but never filled).
//
// Changes are taken back as hm_base records them: an insertion fills a
// cell, set_eq empties one and may fill another.
//
// Locking: as hm_base (shared for reads and save, exclusive for changes and
// load). Creation throws std::bad_alloc when the cells cannot be allocated.
#pragma once

#include "containers/hashed/hashmap.h"

namespace nosql_db {

template <class K>
class ht_adt final : public hm_base<K> {
  using slot = slot_of<K>;
  using typename hm_base<K>::cell_change;

 public:
  ht_adt(scalar value, uint64_t capacity)
      : hm_base<K>(kind::hashtable, desc_of(value), capacity, [](uintptr_t) {}) {}

  bool ins_key(const K& k, value_ref v) override {
    if (this->value_type() != scalar::u08 || v.type != scalar::u08) return false;
    write_lock l(*this);
    if (!this->fits(k) || this->cells_[slot::index(k)] != 0) return false;
    if (this->undo_) [[unlikely]] {
      this->reserve_steps(1);
      this->note(cell_change::filled, slot::index(k), 0);
    }
    put(slot::index(k));
    return true;
  }
  // Empties k's slot and fills nk's (a filled nk stays filled). Fails,
  // changing nothing, when k is empty or nk does not fit.
  bool set_eq(const K& k, const K& nk) override {
    write_lock l(*this);
    if (!this->filled(k) || !this->fits(nk)) return false;
    const uint64_t from = slot::index(k), to = slot::index(nk);
    const bool fills = from == to || this->cells_[to] == 0;
    if (this->undo_) [[unlikely]] {
      this->reserve_steps(2);
      this->note(cell_change::emptied, from, this->cells_[from]);
      if (fills) this->note(cell_change::filled, to, 0);
    }
    this->cells_[from] = 0;
    --this->filled_;
    if (fills) put(to);
    return true;
  }

  // Format: docs/FORMATS.md, "Body: hashtable".
  bool save(dump_out& out) const override {
    write_header(out, *this);
    out.put_u64(this->cells_.capacity());
    out.put_u64(this->filled_);
    this->walk([&](uint64_t i) {
      out.put_u64(i);
      out.put_elem(slot::key(this->cells_[i] - 1));
    });
    return true;
  }
  // The capacity was read by the dump reader; this reads the count and the
  // entries. The stored slot index is not trusted: the key decides the slot,
  // and a key that does not fit is skipped.
  // Format: docs/FORMATS.md, "Body: hashtable".
  bool load(dump_in& in) override {
    write_lock l(*this);
    uint64_t n;
    if (!in.template get_count<K>(&n, 8 + sizeof(K))) return false;
    uint64_t ignored;
    K k{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_u64(&ignored) || !in.get_elem(&k)) return false;
      if (this->fits(k) && this->cells_[slot::index(k)] == 0) put(slot::index(k));
    }
    return true;
  }

 private:
  void put(uint64_t i) noexcept {
    this->cells_[i] = static_cast<uintptr_t>(i) + 1;
    ++this->filled_;
  }
};

#define NOSQL_EXTERN_HT(tag, K) extern template class ht_adt<K>;
NOSQL_FOR_EACH_HASH_KEY(NOSQL_EXTERN_HT)
#undef NOSQL_EXTERN_HT

}  // namespace nosql_db
