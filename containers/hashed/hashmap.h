// hm_adt<K,V>: the "hashmap" kind, a direct-address table over an integer
// key type K holding one value of type V per key.
//
// Every possible key has its own slot: slot index = key - (smallest value of
// K), computed in u64 arithmetic (slot_of, containers/base/direct_slots.h),
// so signed keys start at slot 0 with their most negative value. A key fits
// when its slot index < capacity. There is
// no hashing, no collision and no resizing: every single-key operation is one
// subtraction, one comparison and one array access, and slot order is key
// order.
//
// Storage: one pointer-sized cell per slot, allocated zeroed at creation
// (calloc, so pages of a large table are only touched when used); a filled
// hashmap cell owns one heap cell holding the value. The capacity never
// changes. Walks (get_all, del_all, save, destroy) visit slot indexes below
// min(capacity, 2^bits of K) with a u64 counter that cannot wrap, and stop
// early once every filled slot has been seen.
//
// Taking changes back: while undo_ is set, every change appends a step per
// cell it changes (the slot, what the cell held before) to steps_, whose
// room is reserved before the cell changes. A value leaving the table (a
// removed key, the value a move lands on, an overwritten value, which is
// replaced by a new cell rather than assigned) is kept in its step, not
// dropped: rollback puts the old cells back, dropping only cells the
// batch made, and end_undo drops what the steps kept.
//
// Locking: shared for size, get_*, save; exclusive for del_*, ins_key,
// set_*, load. Creation throws std::bad_alloc when the cell array cannot be
// allocated (its byte size overflows, exceeds the address space, or the
// allocator refuses); nothing is left allocated then.
#pragma once

#include <cstdlib>
#include <memory>

#include "containers/base/direct_slots.h"
#include "containers/kind_common.h"
#include "containers/kinds.h"

namespace nosql_db {

// The cell array shared by hashmap and hashtable: untyped, so that its code
// exists once.
class slot_cells {
 public:
  // Throws std::bad_alloc when capacity cells cannot be allocated.
  explicit slot_cells(uint64_t capacity);
  ~slot_cells() { std::free(cells_); }
  slot_cells(const slot_cells&) = delete;
  slot_cells& operator=(const slot_cells&) = delete;

  uint64_t capacity() const noexcept { return capacity_; }
  uintptr_t& operator[](uint64_t i) noexcept { return cells_[i]; }
  uintptr_t operator[](uint64_t i) const noexcept { return cells_[i]; }

 private:
  uintptr_t* cells_ = nullptr;
  uint64_t capacity_ = 0;
};

// The key types a hashmap or hashtable accepts, the integer types, as
// X(tag, C++ type).
#define NOSQL_FOR_EACH_HASH_KEY(X) NOSQL_FOR_EACH_INTEGER_SCALAR(X)

// The key-side operations of the hashmap, shared by every V of one K. A
// filled cell holds a V* (as uintptr_t); drop_ frees one.
template <class K>
class hm_base : public adt<K> {
  using list = elem_array<K>;
  using slot = slot_of<K>;

 public:
  uint64_t size() const override {
    read_lock l(*this);
    return cells_.capacity();
  }

  bool get_all(list* out) const override {
    read_lock l(*this);
    out->reserve(out->size() + filled_);
    walk([&](uint64_t i) { out->push_back(slot::key(i)); });
    return true;
  }
  bool get_eq(const K& k, list* out) const override {
    read_lock l(*this);
    if (!filled(k)) return false;
    out->push_back(k);
    return true;
  }
  bool del_all() override {
    write_lock l(*this);
    if (undo_) [[unlikely]] {
      clear_recorded();
      return true;
    }
    clear();
    return true;
  }
  bool del_eq(const K& k) override {
    write_lock l(*this);
    if (!filled(k)) return false;
    const uint64_t i = slot::index(k);
    if (undo_) [[unlikely]] {
      reserve_steps(1);
      note(cell_change::emptied, i, cells_[i]);
    } else {
      drop_(cells_[i]);
    }
    cells_[i] = 0;
    --filled_;
    return true;
  }
  // Moves the value of k to nk; a value already at nk is replaced. Fails,
  // changing nothing, when k is empty or nk does not fit.
  bool set_eq(const K& k, const K& nk) override {
    write_lock l(*this);
    if (!filled(k) || !fits(nk)) return false;
    const uint64_t from = slot::index(k), to = slot::index(nk);
    if (from == to) return true;
    if (undo_) [[unlikely]] {
      reserve_steps(1);
      note(cell_change::moved, from, cells_[to], to);  // keeps the value at nk
    }
    if (cells_[to] != 0) {
      if (!undo_) drop_(cells_[to]);
      --filled_;
    }
    cells_[to] = cells_[from];
    cells_[from] = 0;
    return true;
  }

  // Number of filled slots.
  uint64_t filled_count() const {
    read_lock l(*this);
    return filled_;
  }

  // REQUIRES no undo running (no nesting).
  void begin_undo() override { undo_ = true; }
  // Drops the values the steps kept.
  void end_undo() noexcept override {
    for (const cell_step& s : steps_) {
      if (s.what != cell_change::filled && s.old != 0) drop_(s.old);
    }
    drop_record();
  }
  // Puts every changed cell back, newest change first.
  void rollback() noexcept override {
    for (uint64_t i = steps_.size(); i-- > 0;) {
      const cell_step& s = steps_[i];
      switch (s.what) {
        case cell_change::filled:
          drop_(cells_[s.at]);
          cells_[s.at] = 0;
          --filled_;
          break;
        case cell_change::emptied:
          cells_[s.at] = s.old;
          ++filled_;
          break;
        case cell_change::moved:
          cells_[s.at] = cells_[s.to];
          cells_[s.to] = s.old;
          if (s.old != 0) ++filled_;
          break;
        case cell_change::replaced:
          drop_(cells_[s.at]);
          cells_[s.at] = s.old;
          break;
      }
    }
    drop_record();
  }

 protected:
  hm_base(kind k, type_desc val_desc, uint64_t capacity, void (*drop)(uintptr_t))
      : adt<K>(k, scalar_traits<K>::id, scalar_traits<K>::desc, val_desc), cells_(capacity), drop_(drop) {}
  ~hm_base() override {
    if (undo_) end_undo();
    clear();
  }

  // What a step did to cell `at`. filled: an empty cell got a new one.
  // emptied: the cell `old` left it. moved: the cell went to slot `to`,
  // replacing `old` there. replaced: a new cell took the place of `old`.
  enum class cell_change : uint8_t { filled, emptied, moved, replaced };
  struct cell_step {
    uint64_t at;
    uint64_t to;
    uintptr_t old;
    cell_change what;
  };
  // Room for n more steps, before the change. REQUIRES undo_.
  void reserve_steps(uint64_t n) { steps_.reserve(steps_.size() + n); }
  // Records a step. REQUIRES room reserved for it.
  void note(cell_change what, uint64_t at, uintptr_t old, uint64_t to = 0) noexcept {
    steps_.push_back(cell_step{at, to, old, what});
  }

  bool fits(K k) const noexcept { return slot::fits(k, cells_.capacity()); }
  bool filled(K k) const noexcept { return fits(k) && cells_[slot::index(k)] != 0; }

  // Calls f(slot index) for every filled slot, in slot order.
  template <class F>
  void walk(F&& f) const {
    uint64_t left = filled_;
    const uint64_t end = slot::bound(cells_.capacity());
    for (uint64_t i = 0; left != 0 && i < end; ++i) {
      if (cells_[i] != 0) {
        --left;
        f(i);
      }
    }
  }
  void clear() noexcept {
    uint64_t left = filled_;
    const uint64_t end = slot::bound(cells_.capacity());
    for (uint64_t i = 0; left != 0 && i < end; ++i) {
      if (cells_[i] != 0) {
        drop_(cells_[i]);
        cells_[i] = 0;
        --left;
      }
    }
    filled_ = 0;
  }

  slot_cells cells_;
  uint64_t filled_ = 0;
  bool undo_ = false;

 private:
  // del_all while undo runs: every filled cell is kept in an emptied step.
  void clear_recorded() {
    reserve_steps(filled_);
    walk([&](uint64_t i) {
      note(cell_change::emptied, i, cells_[i]);
      cells_[i] = 0;
    });
    filled_ = 0;
  }
  // Frees the record and ends recording.
  void drop_record() noexcept {
    elem_array<cell_step>().swap(steps_);
    undo_ = false;
  }

  void (*drop_)(uintptr_t);
  elem_array<cell_step> steps_;
};

template <class K, class V>
class hm_adt final : public hm_base<K> {
  using slot = slot_of<K>;
  using typename hm_base<K>::cell_change;

 public:
  explicit hm_adt(uint64_t capacity)
      : hm_base<K>(kind::hashmap, scalar_traits<V>::desc, capacity,
                   [](uintptr_t c) { delete reinterpret_cast<V*>(c); }) {}

  bool get_value(const K& k, value_list_ref out) const override {
    elem_array<V>* list = value_list_as<V>(out);
    if (!list) return false;
    read_lock l(*this);
    if (!this->filled(k)) return false;
    list->push_back(*cell(slot::index(k)));
    return true;
  }
  bool set_value(const K& k, value_ref v) override {
    const V* x = value_as<V>(v);
    if (!x) return false;
    write_lock l(*this);
    if (!this->filled(k)) return false;
    const uint64_t i = slot::index(k);
    if (this->undo_) [[unlikely]] {
      this->reserve_steps(1);
      const uintptr_t fresh = reinterpret_cast<uintptr_t>(new V(*x));
      this->note(cell_change::replaced, i, this->cells_[i]);
      this->cells_[i] = fresh;
      return true;
    }
    *cell(i) = *x;
    return true;
  }
  bool ins_key(const K& k, value_ref v) override {
    const V* x = value_as<V>(v);
    if (!x) return false;
    write_lock l(*this);
    if (!this->fits(k) || this->cells_[slot::index(k)] != 0) return false;
    if (this->undo_) [[unlikely]] this->reserve_steps(1);
    this->cells_[slot::index(k)] = reinterpret_cast<uintptr_t>(new V(*x));
    ++this->filled_;
    if (this->undo_) [[unlikely]] this->note(cell_change::filled, slot::index(k), 0);
    return true;
  }

  // Format: docs/FORMATS.md, "Body: hashmap".
  bool save(dump_out& out) const override {
    write_header(out, *this);
    out.put_u64(this->cells_.capacity());
    out.put_u64(this->filled_);
    this->walk([&](uint64_t i) {
      out.put_elem(slot::key(i));
      out.put_elem(*cell(i));
    });
    return true;
  }
  // The capacity was read by the dump reader; this reads the count and the
  // entries. A key that does not fit is skipped; a filled slot gets the
  // later value.
  // Format: docs/FORMATS.md, "Body: hashmap".
  bool load(dump_in& in) override {
    write_lock l(*this);
    uint64_t n;
    if (!in.template get_count<V>(&n, sizeof(K) + min_encoded_size<V>())) return false;
    K k{};
    V v{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_elem(&k) || !in.get_elem(&v)) return false;
      if (!this->fits(k)) continue;
      const uint64_t s = slot::index(k);
      if (this->cells_[s] != 0) {
        *cell(s) = v;
      } else {
        this->cells_[s] = reinterpret_cast<uintptr_t>(new V(v));
        ++this->filled_;
      }
    }
    return true;
  }

 private:
  V* cell(uint64_t i) const noexcept { return reinterpret_cast<V*>(this->cells_[i]); }
};

// Instantiated in hashmap.cc (signed keys) and hashmap_unsigned.cc.
#define NOSQL_EXTERN_HM_KV(K, V) extern template class hm_adt<K, V>;
#define NOSQL_EXTERN_HM(tag, K)        \
  extern template class hm_base<K>;    \
  NOSQL_FOR_EACH_VALUE_LATER(K, NOSQL_EXTERN_HM_KV)
NOSQL_EXPAND(NOSQL_FOR_EACH_HASH_KEY(NOSQL_EXTERN_HM))
#undef NOSQL_EXTERN_HM
#undef NOSQL_EXTERN_HM_KV

// Instantiates the hashmap for key K and every value type.
#define NOSQL_INST_HM_KV(K, V) template class hm_adt<K, V>;
#define NOSQL_INST_HM_K(K)    \
  template class hm_base<K>;  \
  NOSQL_FOR_EACH_VALUE(K, NOSQL_INST_HM_KV)

}  // namespace nosql_db
