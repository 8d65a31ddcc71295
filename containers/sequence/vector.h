// vec_adt<K>: the "vector" kind, a contiguous sequence addressed by 1-based
// position, stored in one elem_array<K>.
//
// Reads by position are O(1); insertion and removal at slot i move the tail;
// del_all and del_last only change the size and keep the block. Changes go
// through array_adt, which records them while they may be taken back.
#pragma once

#include <algorithm>
#include <memory>

#include "containers/sequence/array_kind.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K>
class vec_adt final : public array_adt<K> {
  using list = elem_array<K>;
  using array_adt<K>::a_;
  using array_adt<K>::insert_at;
  using array_adt<K>::erase_at;
  using array_adt<K>::fill_range;
  using array_adt<K>::assign_at;

 public:
  vec_adt() noexcept : array_adt<K>(kind::vector) {}

  // Format: docs/FORMATS.md, "Body: vector".
  bool load(dump_in& in) override {
    write_lock l(*this);
    return load_array(in, a_);
  }

  bool get_index(const K& x, uint64_t* out) const override {
    read_lock l(*this);
    for (uint64_t i = 0; i < a_.size(); ++i) {
      if (equal(a_[i], x)) {
        *out = i;
        return true;
      }
    }
    return false;
  }
  bool get_nth(uint64_t p, K* out) const override {
    if (p == 0) return false;
    read_lock l(*this);
    if (p > a_.size()) return false;
    *out = a_[p - 1];
    return true;
  }
  bool get_first(K* out) const override {
    read_lock l(*this);
    if (a_.empty()) return false;
    *out = a_[0];
    return true;
  }
  bool get_last(K* out) const override {
    read_lock l(*this);
    if (a_.empty()) return false;
    *out = a_[a_.size() - 1];
    return true;
  }
  bool get_range(uint64_t from, uint64_t to, list* out) const override {
    read_lock l(*this);
    if (!range_ok(from, to)) return false;
    copy_out(from - 1, std::min(to, a_.size()), out);
    return true;
  }
  bool get_first_n(uint64_t n, list* out) const override {
    if (n == 0) return false;
    read_lock l(*this);
    copy_out(0, std::min(n, a_.size()), out);
    return true;
  }
  bool get_last_n(uint64_t n, list* out) const override {
    if (n == 0) return false;
    read_lock l(*this);
    copy_out(a_.size() - std::min(n, a_.size()), a_.size(), out);
    return true;
  }

  bool del_nth(uint64_t p) override {
    if (p == 0) return false;
    write_lock l(*this);
    if (p > a_.size()) return false;
    erase_at(p - 1, 1);
    return true;
  }
  bool del_first() override {
    write_lock l(*this);
    if (a_.empty()) return false;
    erase_at(0, 1);
    return true;
  }
  bool del_last() override {
    write_lock l(*this);
    if (a_.empty()) return false;
    erase_at(a_.size() - 1, 1);
    return true;
  }
  bool del_range(uint64_t from, uint64_t to) override {
    write_lock l(*this);
    if (!range_ok(from, to)) return false;
    const uint64_t end = std::min(to, a_.size());
    erase_at(from - 1, end - from + 1);
    return true;
  }
  bool del_first_n(uint64_t n) override {
    if (n == 0) return false;
    write_lock l(*this);
    erase_at(0, std::min(n, a_.size()));
    return true;
  }
  bool del_last_n(uint64_t n) override {
    if (n == 0) return false;
    write_lock l(*this);
    const uint64_t k = std::min(n, a_.size());
    erase_at(a_.size() - k, k);
    return true;
  }

  bool ins_nth(uint64_t p, const K& x) override {
    if (p == 0) return false;
    write_lock l(*this);
    const uint64_t n = a_.size();
    if (p > n + 1) return false;
    // Positions 1 .. n-1 insert before element p; n and n+1 append.
    insert_at(p < n ? p - 1 : n, x);
    return true;
  }
  bool ins_first(const K& x) override {
    write_lock l(*this);
    insert_at(0, x);
    return true;
  }
  bool ins_last(const K& x) override {
    write_lock l(*this);
    insert_at(a_.size(), x);
    return true;
  }

  bool set_all(const K& x) override {
    write_lock l(*this);
    fill_range(0, a_.size(), x);
    return true;
  }
  bool set_nth(uint64_t p, const K& x) override {
    if (p == 0) return false;
    write_lock l(*this);
    if (p > a_.size()) return false;
    assign_at(p - 1, x);
    return true;
  }
  bool set_first(const K& x) override {
    write_lock l(*this);
    if (a_.empty()) return false;
    assign_at(0, x);
    return true;
  }
  bool set_last(const K& x) override {
    write_lock l(*this);
    if (a_.empty()) return false;
    assign_at(a_.size() - 1, x);
    return true;
  }
  bool set_range(uint64_t from, uint64_t to, const K& x) override {
    write_lock l(*this);
    if (!range_ok(from, to)) return false;
    fill_range(from - 1, std::min(to, a_.size()), x);
    return true;
  }
  bool set_first_n(uint64_t n, const K& x) override {
    if (n == 0) return false;
    write_lock l(*this);
    fill_range(0, std::min(n, a_.size()), x);
    return true;
  }
  bool set_last_n(uint64_t n, const K& x) override {
    if (n == 0) return false;
    write_lock l(*this);
    fill_range(a_.size() - std::min(n, a_.size()), a_.size(), x);
    return true;
  }

 private:
  bool range_ok(uint64_t from, uint64_t to) const noexcept {
    return !a_.empty() && from >= 1 && to >= 1 && from <= to && from <= a_.size();
  }
  // Copies slots [b, e) into out, which the caller passed in empty.
  void copy_out(uint64_t b, uint64_t e, list* out) const {
    out->resize(e - b);
    std::copy(a_.data() + b, a_.data() + e, out->data());
  }
};

#define NOSQL_EXTERN_VEC(tag, T, ...) extern template class vec_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_VEC)
#undef NOSQL_EXTERN_VEC

}  // namespace nosql_db
