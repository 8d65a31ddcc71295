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
#pragma once

#include <algorithm>
#include <memory>
#include <utility>

#include "containers/array_kind.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K>
class heap_adt final : public array_adt<K> {
  using array_adt<K>::a_;

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
    pop();
    return true;
  }
  bool ins_key(const K& x, value_ref v) override {
    if (!takes_keys_ || !value_as<uint8_t>(v)) return false;
    write_lock l(*this);
    push(x);
    return true;
  }
  bool set_min(const K& x) override {
    write_lock l(*this);
    if (a_.empty()) return false;
    // Copy first: after the pop nothing may fail, and the push below then
    // reuses the slot the pop vacated (no growth).
    K copy(x);
    pop();
    push(std::move(copy));
    return true;
  }

 private:
  void push(K x) {
    a_.resize(a_.size() + 1);  // may throw; nothing changed yet
    uint64_t i = a_.size() - 1;
    a_[i] = std::move(x);
    while (i != 0) {
      const uint64_t p = (i - 1) / 2;
      if (less(a_[i], a_[p])) {
        std::swap(a_[p], a_[i]);
      } else if constexpr (!is_float_v<K>) {
        // Without NaN the order above p already holds: no swap can follow.
        // A NaN may have broken it, so float heaps walk on to the root.
        break;
      }
      i = p;
    }
  }
  // REQUIRES: not empty.
  void pop() noexcept {
    const uint64_t n = a_.size() - 1;
    if (n > 0) std::swap(a_[0], a_[n]);  // the old top stays past the size
    a_.resize(n);
    uint64_t i = 0;
    for (;;) {
      const uint64_t l = 2 * i + 1, r = l + 1;
      if (l >= n) return;
      uint64_t c = l;
      if (r < n && greater_or_equal(a_[l], a_[r])) c = r;  // ties go right
      if (!less(a_[c], a_[i])) return;
      std::swap(a_[i], a_[c]);
      i = c;
    }
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
