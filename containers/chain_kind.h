// chain_adt<K, Extra>: what the kinds stored in a node_chain share (list and
// queue): size, save from the front, get_all, search, the two ends, and the
// all-or-nothing rewrites. The derived kind adds its own operations, load
// and everything that inserts or removes nodes.
#pragma once

#include "containers/kind_common.h"
#include "containers/node_chain.h"

namespace nosql_db {

template <class K, class Extra>
class chain_adt : public adt<K> {
 public:
  using list = elem_array<K>;
  using chain = node_chain<K, Extra>;
  using node = typename chain::node;

  uint64_t size() const override {
    read_lock l(*this);
    return c_.count();
  }
  // Format: docs/FORMATS.md, "Body: list" and "Body: queue".
  bool save(dump_out& out) const override {
    write_header(out, *this);
    out.put_u64(c_.count());
    for (const node* n = c_.head(); n; n = n->next) out.put_elem(n->value);
    return true;
  }
  bool get_all(list* out) const override {
    read_lock l(*this);
    chain::copy_out(c_.head(), c_.count(), out);
    return true;
  }
  bool get_index(const K& x, uint64_t* out) const override {
    read_lock l(*this);
    return c_.find(x, out) != nullptr;
  }
  bool get_first(K* out) const override {
    read_lock l(*this);
    if (c_.empty()) return false;
    *out = c_.head()->value;
    return true;
  }
  bool get_last(K* out) const override {
    read_lock l(*this);
    if (c_.empty()) return false;
    *out = c_.tail()->value;
    return true;
  }
  bool set_all(const K& x) override {
    write_lock l(*this);
    chain::assign(c_.head(), c_.count(), x);
    return true;
  }
  bool set_first(const K& x) override {
    write_lock l(*this);
    if (c_.empty()) return false;
    c_.head()->value = x;
    return true;
  }
  bool set_last(const K& x) override {
    write_lock l(*this);
    if (c_.empty()) return false;
    c_.tail()->value = x;
    return true;
  }

 protected:
  explicit chain_adt(kind k) noexcept : adt<K>(k, scalar_traits<K>::id, scalar_traits<K>::desc, u08_desc) {}

  chain c_;
};

}  // namespace nosql_db
