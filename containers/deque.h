// deque_adt<K>: the "deque" kind, a double-ended sequence in a two-sided
// block store.
//
// Storage: a table of blocks of 1024 elements. Entry 2k of the table is
// block k of the back side, entry 2k + 1 block k of the front side. Each
// side numbers its slots from 0 at the middle outward; slot s lies in block
// s / 1024 at offset s % 1024. The back part is stored in order, the front
// part in reverse. origin offsets the inner end of the live region:
//   - origin > 0 only while the front part is empty: front removals have
//     consumed that many inner back slots;
//   - origin < 0 only while the back part is empty: back removals have
//     consumed -origin inner front slots;
//   - a removal that empties the deque resets it to 0.
// Index i (0-based) lives in back slot i - front + origin when i >= front,
// else in front slot front - origin - i - 1. Access is O(1); end insertions
// and removals are O(1) amortised; the table grows by 16 entries at a time;
// blocks are allocated on first use. A block that removals have consumed
// entirely, with one more whole consumed block between it and the live
// elements, is freed, so a deque used as a queue holds constant memory;
// insertions that come back to it allocate it again.
//
// Positions are 1-based except ins_nth, whose argument is a 0-based index.
// End removals never refuse (true on an empty deque); set_all refuses an
// empty deque.
//
// Locking as every container: shared for reads and save, exclusive for
// changes and load. Insertions allocate (table, block) before writing, so
// std::bad_alloc leaves the elements unchanged.
#pragma once

#include <algorithm>
#include <memory>
#include <type_traits>
#include <utility>

#include "containers/kind_common.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K>
class deque_adt final : public adt<K> {
  using list = elem_array<K>;

 public:
  static constexpr uint64_t block_size = 1024;
  static constexpr uint64_t table_step = 16;

  deque_adt() noexcept : adt<K>(kind::deque, scalar_traits<K>::id, scalar_traits<K>::desc, u08_desc) {}
  ~deque_adt() override {
    for (uint64_t e = 0; e < table_len_; ++e) delete[] table_[e];
    delete[] table_;
  }

  uint64_t size() const override {
    read_lock l(*this);
    return count();
  }

  // Format: docs/FORMATS.md, "Body: deque".
  bool save(dump_out& out) const override {
    write_header(out, *this);
    out.put_u64(count());
    for (uint64_t i = 0; i < count(); ++i) out.put_elem(at(i));
    return true;
  }
  // Format: docs/FORMATS.md, "Body: deque".
  bool load(dump_in& in) override {
    write_lock l(*this);
    return load_elements<K>(in, [&](const K& v) { push_back(v); });
  }

  bool get_all(list* out) const override {
    read_lock l(*this);
    copy_out(0, count(), out);
    return true;
  }
  bool get_index(const K& x, uint64_t* out) const override {
    read_lock l(*this);
    for (uint64_t i = 0; i < count(); ++i) {
      if (equal(at(i), x)) {
        *out = i;
        return true;
      }
    }
    return false;
  }
  bool get_nth(uint64_t p, K* out) const override {
    if (p == 0) return false;
    read_lock l(*this);
    if (p > count()) return false;
    *out = at(p - 1);
    return true;
  }
  bool get_first(K* out) const override {
    read_lock l(*this);
    if (count() == 0) return false;
    *out = at(0);
    return true;
  }
  bool get_last(K* out) const override {
    read_lock l(*this);
    if (count() == 0) return false;
    *out = at(count() - 1);
    return true;
  }
  bool get_range(uint64_t from, uint64_t to, list* out) const override {
    read_lock l(*this);
    if (!range_ok(from, to)) return false;
    copy_out(from - 1, std::min(to, count()), out);
    return true;
  }
  bool get_first_n(uint64_t n, list* out) const override {
    if (n == 0) return false;
    read_lock l(*this);
    copy_out(0, std::min(n, count()), out);
    return true;
  }
  bool get_last_n(uint64_t n, list* out) const override {
    if (n == 0) return false;
    read_lock l(*this);
    copy_out(count() - std::min(n, count()), count(), out);
    return true;
  }

  bool del_all() override {
    write_lock l(*this);
    front_ = back_ = 0;
    origin_ = 0;
    return true;
  }
  bool del_first() override {
    write_lock l(*this);
    pop_front();
    return true;
  }
  bool del_last() override {
    write_lock l(*this);
    pop_back();
    return true;
  }
  bool del_first_n(uint64_t n) override {
    write_lock l(*this);
    for (uint64_t k = std::min(n, count()); k > 0; --k) pop_front();
    return true;
  }
  bool del_last_n(uint64_t n) override {
    write_lock l(*this);
    for (uint64_t k = std::min(n, count()); k > 0; --k) pop_back();
    return true;
  }

  bool ins_first(const K& x) override {
    write_lock l(*this);
    push_front(x);
    return true;
  }
  bool ins_last(const K& x) override {
    write_lock l(*this);
    push_back(x);
    return true;
  }
  // i is a 0-based index: x becomes element i + 1. The shorter side moves.
  bool ins_nth(uint64_t i, const K& x) override {
    write_lock l(*this);
    const uint64_t n = count();
    if (i > n) return false;
    K copy(x);
    if (n == 0 || 2 * i >= n) {
      push_back(copy);  // the only step that can throw
      for (uint64_t j = n; j > i; --j) at(j) = std::move(at(j - 1));
    } else {
      push_front(copy);
      for (uint64_t j = 1; j <= i; ++j) at(j - 1) = std::move(at(j));
    }
    at(i) = std::move(copy);
    return true;
  }

  bool set_all(const K& x) override {
    write_lock l(*this);
    if (count() == 0) return false;
    assign(0, count(), x);
    return true;
  }
  bool set_nth(uint64_t p, const K& x) override {
    if (p == 0) return false;
    write_lock l(*this);
    if (p > count()) return false;
    at(p - 1) = x;
    return true;
  }
  bool set_first(const K& x) override {
    write_lock l(*this);
    if (count() == 0) return false;
    at(0) = x;
    return true;
  }
  bool set_last(const K& x) override {
    write_lock l(*this);
    if (count() == 0) return false;
    at(count() - 1) = x;
    return true;
  }
  bool set_range(uint64_t from, uint64_t to, const K& x) override {
    write_lock l(*this);
    if (!range_ok(from, to)) return false;
    assign(from - 1, std::min(to, count()), x);
    return true;
  }
  bool set_first_n(uint64_t n, const K& x) override {
    if (n == 0) return false;
    write_lock l(*this);
    assign(0, std::min(n, count()), x);
    return true;
  }
  bool set_last_n(uint64_t n, const K& x) override {
    if (n == 0) return false;
    write_lock l(*this);
    assign(count() - std::min(n, count()), count(), x);
    return true;
  }

  // For tests: the store's bookkeeping.
  struct layout {
    uint64_t table_length, front_count, back_count;
    int64_t origin;
  };
  layout inspect() const {
    read_lock l(*this);
    return {table_len_, front_, back_, origin_};
  }
  bool has_block(uint64_t entry) const {
    read_lock l(*this);
    return entry < table_len_ && table_[entry] != nullptr;
  }

 private:
  enum side : uint64_t { back_side = 0, front_side = 1 };

  uint64_t count() const noexcept { return front_ + back_; }
  bool range_ok(uint64_t from, uint64_t to) const noexcept {
    return count() > 0 && from >= 1 && to >= 1 && from <= to && from <= count();
  }

  K& slot(side sd, uint64_t s) const noexcept { return table_[2 * (s / block_size) + sd][s % block_size]; }
  // Element i (0-based). REQUIRES: i < count(), or i == count() right after
  // a push made it live. Arithmetic is modulo 2^64; origin's sign rules
  // keep both slot numbers in range.
  K& at(uint64_t i) const noexcept {
    const uint64_t o = static_cast<uint64_t>(origin_);
    if (i >= front_) return slot(back_side, i - front_ + o);
    return slot(front_side, front_ - o - i - 1);
  }

  // Makes slot s of side sd writable: grows the table by 16-entry steps
  // and allocates the block on first use.
  void ensure(side sd, uint64_t s) {
    const uint64_t e = 2 * (s / block_size) + sd;
    if (e >= table_len_) {
      const uint64_t len = table_len_ + ((e - table_len_) / table_step + 1) * table_step;
      K** t = new K*[len]();
      std::copy(table_, table_ + table_len_, t);
      delete[] table_;
      table_ = t;
      table_len_ = len;
    }
    // Slots of plain types start unset: a slot is written before it is read.
    if (!table_[e]) table_[e] = std::is_trivially_default_constructible_v<K> ? new K[block_size] : new K[block_size]();
  }

  void push_back(const K& x) {
    if (origin_ < 0) {
      // The back part is empty: x takes the last consumed front slot.
      const uint64_t s = static_cast<uint64_t>(-origin_) - 1;
      ensure(front_side, s);
      slot(front_side, s) = x;
      ++origin_;
      ++front_;
    } else {
      const uint64_t s = back_ + static_cast<uint64_t>(origin_);
      ensure(back_side, s);
      slot(back_side, s) = x;
      ++back_;
    }
  }
  void push_front(const K& x) {
    if (origin_ > 0) {
      // The front part is empty: x takes the last consumed back slot.
      const uint64_t s = static_cast<uint64_t>(origin_) - 1;
      ensure(back_side, s);
      slot(back_side, s) = x;
      --origin_;
      ++back_;
    } else {
      const uint64_t s = front_ + static_cast<uint64_t>(-origin_);
      ensure(front_side, s);
      slot(front_side, s) = x;
      ++front_;
    }
  }
  // Removed slots keep their values (a string keeps its buffer) until
  // their block is released.
  void pop_front() noexcept {
    if (front_ > 0) {
      if (--front_ == 0) origin_ = 0;
    } else if (back_ > 0) {
      if (--back_ == 0) {
        origin_ = 0;
      } else {
        ++origin_;
        release_consumed(back_side, static_cast<uint64_t>(origin_));
      }
    }
  }
  void pop_back() noexcept {
    if (back_ > 0) {
      if (--back_ == 0) origin_ = 0;
    } else if (front_ > 0) {
      if (--front_ == 0) {
        origin_ = 0;
      } else {
        --origin_;
        release_consumed(front_side, static_cast<uint64_t>(-origin_));
      }
    }
  }
  // consumed slots of side sd now lie before the live elements. When that
  // count reaches a block boundary, the block two blocks inward has no live
  // slot and one whole consumed block separates it from the live ones: free
  // it. The gap keeps a removal/insertion pair at a boundary from
  // allocating and freeing a block each time.
  void release_consumed(side sd, uint64_t consumed) noexcept {
    if (consumed % block_size != 0 || consumed < 2 * block_size) return;
    K*& b = table_[2 * (consumed / block_size - 2) + sd];
    delete[] b;
    b = nullptr;
  }

  void copy_out(uint64_t b, uint64_t e, list* out) const {
    out->resize(e - b);
    for (uint64_t i = b; i < e; ++i) (*out)[i - b] = at(i);
  }
  // All or nothing, as fill_all: grow every string first, then assign.
  void assign(uint64_t b, uint64_t e, const K& x) {
    if constexpr (std::is_same_v<K, xstring>) {
      for (uint64_t i = b; i < e; ++i) at(i).reserve(x.size());
    }
    for (uint64_t i = b; i < e; ++i) at(i) = x;
  }

  K** table_ = nullptr;
  int64_t origin_ = 0;
  uint64_t table_len_ = 0;
  uint64_t front_ = 0;
  uint64_t back_ = 0;
};

#define NOSQL_EXTERN_DEQUE(tag, T, ...) extern template class deque_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_DEQUE)
#undef NOSQL_EXTERN_DEQUE

}  // namespace nosql_db
