// stack_adt<K>: the "stack" kind, last in first out, on the vector's
// element array; the top is the last element. Push grows the array as the
// vector's append does; pop and del_all only change the size and keep the
// block.
//
// Locking as every container: shared for reads and save, exclusive for
// changes and load. A push that cannot grow throws std::bad_alloc before
// anything changes.
#pragma once

#include <algorithm>
#include <memory>

#include "containers/array_kind.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K>
class stack_adt final : public array_adt<K> {
  using array_adt<K>::a_;

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
    a_.resize(a_.size() - 1);
    return true;
  }
  bool ins_last(const K& x) override {
    write_lock l(*this);
    a_.push_back(x);
    return true;
  }

  bool set_all(const K& x) override {
    write_lock l(*this);
    fill_all(a_.begin(), a_.end(), x);
    return true;
  }
  bool set_last(const K& x) override {
    write_lock l(*this);
    if (a_.empty()) return false;
    a_[a_.size() - 1] = x;
    return true;
  }
};

#define NOSQL_EXTERN_STACK(tag, T, ...) extern template class stack_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_STACK)
#undef NOSQL_EXTERN_STACK

}  // namespace nosql_db
