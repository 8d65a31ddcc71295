// queue_adt<K>: the "queue" kind, first in first out, on the list's node
// chain. Enqueue at the tail, dequeue at the head; both O(1).
//
// Locking as every container: shared for reads (get_index included) and
// save, exclusive for changes and load. An enqueue allocates its node
// before linking it, so std::bad_alloc leaves the queue unchanged.
#pragma once

#include <memory>

#include "containers/kind_common.h"
#include "containers/kinds.h"
#include "containers/node_chain.h"

namespace nosql_db {

template <class K>
class queue_adt final : public adt<K> {
  using list = elem_array<K>;
  using chain = node_chain<K>;
  using node = typename chain::node;
  struct no_hook {
    void operator()(node*) const noexcept {}
  };

 public:
  queue_adt() noexcept : adt<K>(kind::queue, scalar_traits<K>::id, scalar_traits<K>::desc, u08_desc) {}

  uint64_t size() const override {
    read_lock l(this->lock());
    return c_.count();
  }

  bool save(dump_out& out) const override {
    read_lock l(this->lock());
    write_header(out, *this);
    out.put_u64(c_.count());
    for (const node* n = c_.head(); n; n = n->next) out.put_elem(n->value);
    return true;
  }
  bool load(dump_in& in) override {
    write_lock l(this->lock());
    return load_elements<K>(in, [&](const K& v) { c_.insert_before(nullptr, v); });
  }

  bool get_all(list* out) const override {
    read_lock l(this->lock());
    chain::copy_out(c_.head(), c_.count(), out);
    return true;
  }
  bool get_index(const K& x, uint64_t* out) const override {
    read_lock l(this->lock());
    return c_.find(x, out) != nullptr;
  }
  bool get_first(K* out) const override {
    read_lock l(this->lock());
    if (c_.empty()) return false;
    *out = c_.head()->value;
    return true;
  }
  bool get_last(K* out) const override {
    read_lock l(this->lock());
    if (c_.empty()) return false;
    *out = c_.tail()->value;
    return true;
  }

  bool del_all() override {
    write_lock l(this->lock());
    c_.clear(no_hook{});
    return true;
  }
  bool del_first() override {
    write_lock l(this->lock());
    if (c_.empty()) return false;
    c_.remove_head(no_hook{});
    return true;
  }
  bool ins_last(const K& x) override {
    write_lock l(this->lock());
    c_.insert_before(nullptr, x);
    return true;
  }

  bool set_all(const K& x) override {
    write_lock l(this->lock());
    chain::assign(c_.head(), c_.count(), x);
    return true;
  }
  bool set_first(const K& x) override {
    write_lock l(this->lock());
    if (c_.empty()) return false;
    c_.head()->value = x;
    return true;
  }
  bool set_last(const K& x) override {
    write_lock l(this->lock());
    if (c_.empty()) return false;
    c_.tail()->value = x;
    return true;
  }

 private:
  chain c_;
};

#define NOSQL_EXTERN_QUEUE(tag, T, ...) extern template class queue_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_QUEUE)
#undef NOSQL_EXTERN_QUEUE

}  // namespace nosql_db
