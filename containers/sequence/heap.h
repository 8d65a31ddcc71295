// heap_adt<K>: the "heap" kind, a binary min-heap in one element array
// (element 0 is the smallest; element (i - 1) / 2 is i's parent).
//
// The storage order is observable (get_all, save), so the sifts follow
// fixed rules: sift-up swaps only with a strictly greater parent; sift-down
// picks the right child unless the left one is strictly smaller, and swaps
// only when the parent is strictly greater. Equal elements are never
// swapped. A NaN compares false both ways and is never moved past.
//
// Every heap reports the value descriptor u08. Only a heap built with value
// type u08 (what the create command builds) takes ins_key; one built with
// another value type answers false there. load pushes each element read
// whatever the value type.
//
// Locking as every container: shared for reads and save, exclusive for
// changes and load. A push that cannot grow throws std::bad_alloc before
// anything changes.
//
// Taking changes back: the sifts only swap, so a step is undone by making
// its swaps again in reverse, and that needs only which swaps they were. A
// push records the levels above the new leaf at which it swapped (one bit
// each: a NaN can let a float heap swap above a level where it did not); a
// pop records where its sift-down ended, since it swapped at every edge
// from the root to there, and moves the old top into the record. Both are
// O(1) in memory; set_min is a pop and a push.
#pragma once

#include <algorithm>
#include <bit>
#include <memory>
#include <utility>

#include "containers/sequence/array_kind.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K>
class heap_adt final : public array_adt<K> {
  using array_adt<K>::a_;
  using array_adt<K>::undo_;
  using typename array_adt<K>::undo_op;
  using typename array_adt<K>::undo_step;

 public:
  explicit heap_adt(bool takes_keys = true) noexcept : array_adt<K>(kind::heap), takes_keys_(takes_keys) {}

  // Format: docs/FORMATS.md, "Body: heap".
  bool load(dump_in& in) override {
    write_lock l(*this);
    return load_elements<K>(in, [&](const K& v) { push(v); });
  }

  bool get_min(K* out) const override {
    read_lock l(*this);
    if (a_.empty()) return false;
    *out = a_[0];
    return true;
  }

  bool del_min() override {
    write_lock l(*this);
    if (a_.empty()) return false;
    if (undo_) [[unlikely]] {
      undo_->make_room(1, 1);
      pop_recorded();
    } else {
      pop();
    }
    return true;
  }
  bool ins_key(const K& x, value_ref v) override {
    if (!takes_keys_ || !value_as<uint8_t>(v)) return false;
    write_lock l(*this);
    if (undo_) [[unlikely]] {
      undo_->make_room(1, 0);
      push_recorded(x);
    } else {
      push(x);
    }
    return true;
  }
  bool set_min(const K& x) override {
    write_lock l(*this);
    if (a_.empty()) return false;
    // Copy first: after the pop nothing may fail, and the push below then
    // reuses the slot the pop vacated (no growth).
    if (undo_) [[unlikely]] {
      undo_->make_room(2, 1);
      K copy(x);
      pop_recorded();
      push_recorded(std::move(copy));
    } else {
      K copy(x);
      pop();
      push(std::move(copy));
    }
    return true;
  }

 private:
  // Adds x. Returns the levels above the new leaf at which it swapped (bit
  // t: between the slots t and t + 1 levels up).
  uint64_t push(K x) {
    a_.resize(a_.size() + 1);  // may throw; nothing changed yet
    uint64_t i = a_.size() - 1;
    a_[i] = std::move(x);
    uint64_t swapped = 0;
    for (uint64_t level = 0; i != 0; ++level) {
      const uint64_t p = (i - 1) / 2;
      if (less(a_[i], a_[p])) {
        std::swap(a_[p], a_[i]);
        swapped |= uint64_t{1} << level;
      } else if constexpr (!is_float_v<K>) {
        // Without NaN the order above p already holds: no swap can follow.
        // A NaN may have broken it, so float heaps walk on to the root.
        break;
      }
      i = p;
    }
    return swapped;
  }
  // Removes the top, which stays in the slot past the new size. Returns
  // the slot where the sift-down ended; it swapped at every edge from the
  // root to there. REQUIRES: not empty.
  uint64_t pop() noexcept {
    const uint64_t n = a_.size() - 1;
    if (n > 0) std::swap(a_[0], a_[n]);  // the old top stays past the size
    a_.resize(n);
    uint64_t i = 0;
    for (;;) {
      const uint64_t l = 2 * i + 1, r = l + 1;
      if (l >= n) return i;
      uint64_t c = l;
      if (r < n && greater_or_equal(a_[l], a_[r])) c = r;  // ties go right
      if (!less(a_[c], a_[i])) return i;
      std::swap(a_[i], a_[c]);
      i = c;
    }
  }

  // push and pop, recorded. REQUIRES a record with room for the step (and
  // for pop, one value).
  void push_recorded(K x) {
    const uint64_t swapped = push(std::move(x));  // may throw before it changes anything
    undo_->add({undo_op::pushed, swapped, 0});
  }
  void pop_recorded() noexcept {
    const uint64_t end = pop();
    undo_->save(1, [&](uint64_t) -> K& { return a_[a_.size()]; });  // the old top
    undo_->add({undo_op::popped, end, 0});
  }

  void take_back(const undo_step& s) noexcept override {
    if (s.what == undo_op::pushed) unpush(s.at);
    else if (s.what == undo_op::popped) unpop(s.at);
    else array_adt<K>::take_back(s);
  }
  // Takes back the push that swapped at the levels in swapped, newest
  // swap first. In 1-based numbering the slot t levels above slot n is
  // n >> t.
  void unpush(uint64_t swapped) noexcept {
    const uint64_t leaf = a_.size();
    while (swapped != 0) {
      const int t = static_cast<int>(std::bit_width(swapped)) - 1;
      std::swap(a_[(leaf >> t) - 1], a_[(leaf >> (t + 1)) - 1]);
      swapped &= ~(uint64_t{1} << t);
    }
    a_.resize(leaf - 1);
  }
  // Takes back the pop whose sift-down ended at slot end: its swaps again,
  // from end up to the root, then the last element back to the end and the
  // old top back from the record. The slot past the size is still there
  // (blocks never shrink).
  void unpop(uint64_t end) noexcept {
    for (uint64_t j = end + 1; j > 1; j /= 2) std::swap(a_[j - 1], a_[j / 2 - 1]);
    const uint64_t n = a_.size();
    a_.resize(n + 1);
    if (n > 0) std::swap(a_[0], a_[n]);
    undo_->restore(1, [&](uint64_t) -> K& { return a_[0]; });
  }

  static bool greater_or_equal(const K& a, const K& b) noexcept {
    if constexpr (is_float_v<K>) return a >= b;  // false against a NaN
    else return !less(a, b);
  }

  bool takes_keys_;
};

#define NOSQL_EXTERN_HEAP(tag, T, ...) extern template class heap_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_HEAP)
#undef NOSQL_EXTERN_HEAP

}  // namespace nosql_db
