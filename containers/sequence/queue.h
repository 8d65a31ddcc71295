// queue_adt<K>: the "queue" kind, first in first out, on the list's node
// chain. Enqueue at the tail, dequeue at the head; both O(1).
//
// Locking as every container: shared for reads (get_index included) and
// save, exclusive for changes and load. An enqueue allocates its node
// before linking it, so std::bad_alloc leaves the queue unchanged.
// Changes are taken back as chain_kind.h describes.
#pragma once

#include <memory>

#include "containers/sequence/chain_kind.h"
#include "containers/kinds.h"
#include "containers/base/node_chain.h"

namespace nosql_db {

template <class K>
class queue_adt final : public chain_adt<K, no_extra> {
  using base = chain_adt<K, no_extra>;
  using typename base::node;
  using base::c_;
  struct no_hook {
    void operator()(node*) const noexcept {}
  };

 public:
  queue_adt() noexcept : base(kind::queue) {}

  // Format: docs/FORMATS.md, "Body: queue".
  bool load(dump_in& in) override {
    write_lock l(*this);
    return load_elements<K>(in, [&](const K& v) { c_.insert_before(nullptr, v); });
  }

  bool del_all() override {
    write_lock l(*this);
    this->remove(c_.head(), nullptr, no_hook{});
    return true;
  }
  bool del_first() override {
    write_lock l(*this);
    if (c_.empty()) return false;
    this->remove(c_.head(), c_.head()->next, no_hook{});
    return true;
  }
  bool ins_last(const K& x) override {
    write_lock l(*this);
    this->insert(nullptr, x);
    return true;
  }
};

#define NOSQL_EXTERN_QUEUE(tag, T, ...) extern template class queue_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_QUEUE)
#undef NOSQL_EXTERN_QUEUE

}  // namespace nosql_db
