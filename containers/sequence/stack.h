// stack_adt<K>: the "stack" kind, last in first out, on the vector's
// element array; the top is the last element. Push grows the array as the
// vector's append does; pop and del_all only change the size and keep the
// block.
//
// Locking as every container: shared for reads and save, exclusive for
// changes and load. A push that cannot grow throws std::bad_alloc before
// anything changes. Changes go through array_adt, which records them while
// they may be taken back.
#pragma once

#include <algorithm>
#include <memory>

#include "containers/sequence/array_kind.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K>
class stack_adt final : public array_adt<K> {
  using array_adt<K>::a_;
  using array_adt<K>::insert_at;
  using array_adt<K>::erase_at;
  using array_adt<K>::fill_range;
  using array_adt<K>::assign_at;

 public:
  stack_adt() noexcept : array_adt<K>(kind::stack) {}

  // Format: docs/FORMATS.md, "Body: stack".
  bool load(dump_in& in) override {
    write_lock l(*this);
    return load_array(in, a_);
  }

  bool get_last(K* out) const override {
    read_lock l(*this);
    if (a_.empty()) return false;
    *out = a_[a_.size() - 1];
    return true;
  }

  bool del_last() override {
    write_lock l(*this);
    if (a_.empty()) return false;
    erase_at(a_.size() - 1, 1);
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
  bool set_last(const K& x) override {
    write_lock l(*this);
    if (a_.empty()) return false;
    assign_at(a_.size() - 1, x);
    return true;
  }
};

#define NOSQL_EXTERN_STACK(tag, T, ...) extern template class stack_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_STACK)
#undef NOSQL_EXTERN_STACK

}  // namespace nosql_db
