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

#include "containers/kind_common.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K>
class stack_adt final : public adt<K> {
  using list = elem_array<K>;

 public:
  stack_adt() noexcept : adt<K>(kind::stack, scalar_traits<K>::id, scalar_traits<K>::desc, u08_desc) {}

  uint64_t size() const override {
    read_lock l(this->lock());
    return a_.size();
  }

  bool save(dump_out& out) const override {
    read_lock l(this->lock());
    write_header(out, *this);
    out.put_u64(a_.size());
    out.put_elems(a_.data(), a_.size());
    return true;
  }
  bool load(dump_in& in) override {
    write_lock l(this->lock());
    uint64_t n;
    if (!in.template get_count<K>(&n)) return false;
    K v{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_elem(&v)) return false;
      a_.push_back(v);
    }
    return true;
  }

  bool get_all(list* out) const override {
    read_lock l(this->lock());
    out->resize(a_.size());
    std::copy(a_.begin(), a_.end(), out->data());
    return true;
  }
  bool get_last(K* out) const override {
    read_lock l(this->lock());
    if (a_.empty()) return false;
    *out = a_[a_.size() - 1];
    return true;
  }

  bool del_all() override {
    write_lock l(this->lock());
    a_.clear();
    return true;
  }
  bool del_last() override {
    write_lock l(this->lock());
    if (a_.empty()) return false;
    a_.resize(a_.size() - 1);
    return true;
  }
  bool ins_last(const K& x) override {
    write_lock l(this->lock());
    a_.push_back(x);
    return true;
  }

  bool set_all(const K& x) override {
    write_lock l(this->lock());
    fill_all(a_.begin(), a_.end(), x);
    return true;
  }
  bool set_last(const K& x) override {
    write_lock l(this->lock());
    if (a_.empty()) return false;
    a_[a_.size() - 1] = x;
    return true;
  }

 private:
  elem_array<K> a_;
};

#define NOSQL_EXTERN_STACK(tag, T, ...) extern template class stack_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_STACK)
#undef NOSQL_EXTERN_STACK

}  // namespace nosql_db
