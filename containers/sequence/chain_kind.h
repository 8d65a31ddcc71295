// chain_adt<K, Extra>: what the kinds stored in a node_chain share (list and
// queue): size, save from the front, get_all, search, the two ends, and the
// all-or-nothing rewrites. The derived kind adds its own operations, load
// and everything that inserts or removes nodes.
//
// Taking changes back. While undo_ is set, every change appends one step
// to steps_: an inserted node (freed on rollback), a detached run of
// removed nodes (kept alive, reattached on rollback, freed by end_undo),
// or a rewrite of k consecutive nodes whose old values wait in old_values_
// (swapped back on rollback). Room for the step, and the new values of a
// rewrite, are allocated before the chain changes, so a std::bad_alloc
// leaves chain and record as they were; rollback only unlinks, swaps and
// frees. The list adds its handle table through the hooks of undo_steps.
#pragma once

#include "containers/kind_common.h"
#include "containers/base/node_chain.h"

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
    assign(c_.head(), c_.count(), x);
    return true;
  }
  bool set_first(const K& x) override {
    write_lock l(*this);
    if (c_.empty()) return false;
    assign(c_.head(), 1, x);
    return true;
  }
  bool set_last(const K& x) override {
    write_lock l(*this);
    if (c_.empty()) return false;
    assign(c_.tail(), 1, x);
    return true;
  }

  // REQUIRES no undo running (no nesting).
  void begin_undo() override { undo_ = true; }
  // Frees the removed nodes and old values the record kept.
  void end_undo() noexcept override {
    for (const step& s : steps_)
      if (s.what == step::removed) chain::free_run(s.nodes);
    drop_record();
  }
  // Takes back every change since begin_undo (a kind without a handle
  // table: nothing beyond the chain to restore).
  void rollback() noexcept override {
    undo_steps([](node*) noexcept {}, [](node*, bool) noexcept {});
  }

 protected:
  explicit chain_adt(kind k) noexcept : adt<K>(k, scalar_traits<K>::id, scalar_traits<K>::desc, u08_desc) {}
  ~chain_adt() override {
    if (undo_) end_undo();
  }

  // Assigns x to k nodes from n, all or nothing; recorded when undo runs.
  void assign(node* n, uint64_t k, const K& x) {
    if (undo_) [[unlikely]] return assign_recorded(n, k, x);
    chain::assign(n, k, x);
  }
  // Removes the nodes from f up to but not including l (null: through the
  // tail), calling on_unlink(node*) on each before it leaves the chain.
  // Kept, not freed, when undo runs (the step's room may throw then).
  template <class F>
  void remove(node* f, node* l, F&& on_unlink) {
    if (undo_) [[unlikely]] {
      steps_.reserve(steps_.size() + 1);
      const typename chain::run r = c_.detach(f, l, on_unlink);
      if (r.count) steps_.push_back(step{r, step::removed, false});
      return;
    }
    c_.erase(f, l, on_unlink);
  }
  // Makes room for the step of the insertion about to happen. REQUIRES undo_.
  void reserve_step() { steps_.reserve(steps_.size() + 1); }
  // Records that n was linked in; grew: its handle entry was a new one.
  // REQUIRES reserve_step() before the insertion, and undo_.
  void note_inserted(node* n, bool grew) noexcept {
    steps_.push_back(step{typename chain::run{n, n, 1}, step::inserted, grew});
  }
  // Links a new node holding x before b (null: at the tail), recorded
  // when undo runs.
  void insert(node* b, const K& x) {
    if (undo_) [[unlikely]] reserve_step();
    node* n = c_.insert_before(b, x);
    if (undo_) [[unlikely]] note_inserted(n, false);
  }

  // Takes back every recorded step, newest first, and drops the record.
  // restore(n) runs on each node of a removed run, last to first, before
  // the run is relinked; forget(n, grew) on an inserted node after it is
  // unlinked and before it is freed.
  template <class Restore, class Forget>
  void undo_steps(Restore&& restore, Forget&& forget) noexcept {
    uint64_t values = old_values_.size();
    for (uint64_t i = steps_.size(); i-- > 0;) {
      const step& s = steps_[i];
      node* n = s.nodes.first;
      if (s.what == step::removed) {
        for (node* p = s.nodes.last;; p = p->prev) {
          restore(p);
          if (p == n) break;
        }
        c_.reattach(s.nodes);
      } else if (s.what == step::inserted) {
        c_.detach(n, n->next, [](node*) noexcept {});
        forget(n, s.grew);
        delete n;
      } else {
        values -= s.nodes.count;
        for (uint64_t j = 0; j < s.nodes.count; ++j, n = n->next) std::swap(n->value, old_values_[values + j]);
      }
    }
    drop_record();
  }

  chain c_;
  bool undo_ = false;

 private:
  struct step {
    typename chain::run nodes;
    enum : uint8_t { inserted, removed, assigned } what;
    bool grew;  // inserted: its handle entry was appended to the table
  };

  // assign() while undo runs: the new values are built in old_values_
  // first (may throw, changing nothing), then swapped with the nodes'.
  void assign_recorded(node* n, uint64_t k, const K& x) {
    if (k == 0) return;
    steps_.reserve(steps_.size() + 1);
    const uint64_t at = old_values_.size();
    old_values_.resize(at + k);
    try {
      for (uint64_t j = 0; j < k; ++j) old_values_[at + j] = x;
    } catch (...) {
      old_values_.resize(at);
      throw;
    }
    steps_.push_back(step{typename chain::run{n, nullptr, k}, step::assigned, false});
    for (uint64_t j = 0; j < k; ++j, n = n->next) std::swap(n->value, old_values_[at + j]);
  }
  // Frees the record's arrays and ends recording.
  void drop_record() noexcept {
    elem_array<step>().swap(steps_);
    elem_array<K>().swap(old_values_);
    undo_ = false;
  }

  elem_array<step> steps_;
  elem_array<K> old_values_;
};

}  // namespace nosql_db
