// array_adt<K>: what the kinds stored in one elem_array<K> share (vector,
// stack, heap): size, save in storage order, get_all, del_all keeping the
// block. The derived kind adds its own operations and load.
#pragma once

#include <algorithm>

#include "containers/kind_common.h"

namespace nosql_db {

template <class K>
class array_adt : public adt<K> {
 public:
  using list = elem_array<K>;

  uint64_t size() const override {
    read_lock l(*this);
    return a_.size();
  }
  // Format: docs/FORMATS.md, "Body: vector", "Body: stack" and "Body: heap".
  bool save(dump_out& out) const override {
    write_header(out, *this);
    out.put_u64(a_.size());
    out.put_elems(a_.data(), a_.size());  // fixed-width elements in one write
    return true;
  }
  bool get_all(list* out) const override {
    read_lock l(*this);
    out->resize(a_.size());
    std::copy(a_.begin(), a_.end(), out->data());
    return true;
  }
  bool del_all() override {
    write_lock l(*this);
    a_.clear();
    return true;
  }

  // For tests: the block's capacity.
  uint64_t capacity() const {
    read_lock l(*this);
    return a_.capacity();
  }

 protected:
  explicit array_adt(kind k) noexcept : adt<K>(k, scalar_traits<K>::id, scalar_traits<K>::desc, u08_desc) {}

  elem_array<K> a_;
};

}  // namespace nosql_db
