// node_chain<K, Extra>: the doubly linked chain of nodes shared by the list
// and the queue (head, tail, count; one allocation per element).
//
// Extra is a per-node field the owner may use (the list keeps the node's
// handle-table slot there; the queue uses an empty type, which takes no
// space). The chain does no locking: its owner holds the container lock.
// Every insertion allocates its node before it links anything, so a
// std::bad_alloc leaves the chain as it was.
//
// Invariants: head.prev and tail.next are null; head and tail are null
// exactly when count is 0; count is the number of nodes reachable from head.
//
// Taking changes back: detach() unlinks a run of nodes without freeing it.
// The run keeps its inner links, and its first node's prev and last node's
// next still name the neighbours it had, so reattach() can put it back
// once every later change is undone (the neighbours are then adjacent
// again). Nobody touches a detached node until it is reattached or freed.
#pragma once

#include <cstdint>
#include <utility>

#include "containers/base/elem_array.h"
#include "lang/scalar.h"

namespace nosql_db {

struct no_extra {};

template <class K, class Extra = no_extra>
struct chain_node {
  K value;
  chain_node* prev = nullptr;
  chain_node* next = nullptr;
  [[no_unique_address]] Extra extra{};
};

template <class K, class Extra = no_extra>
class node_chain {
 public:
  using node = chain_node<K, Extra>;

  node_chain() noexcept = default;
  node_chain(const node_chain&) = delete;
  node_chain& operator=(const node_chain&) = delete;
  ~node_chain() { clear([](node*) {}); }

  node* head() const noexcept { return head_; }
  node* tail() const noexcept { return tail_; }
  uint64_t count() const noexcept { return count_; }
  bool empty() const noexcept { return count_ == 0; }

  // A fresh unlinked node holding x. The caller links it with link_before
  // or frees it with delete.
  static node* make(const K& x) { return new node{x}; }

  // Links n just before b; a null b links it after the tail. Never throws.
  void link_before(node* b, node* n) noexcept {
    if (b) {
      n->prev = b->prev;
      n->next = b;
      if (b->prev) b->prev->next = n;
      else head_ = n;
      b->prev = n;
    } else {
      n->prev = tail_;
      n->next = nullptr;
      if (tail_) tail_->next = n;
      else head_ = n;
      tail_ = n;
    }
    ++count_;
  }
  node* insert_before(node* b, const K& x) {
    node* n = make(x);
    link_before(b, n);
    return n;
  }

  // Unlinks and frees the nodes from f up to but not including l (a null l
  // means through the tail), calling on_free(node*) before each is freed.
  // Nothing happens when f is null.
  template <class F>
  void erase(node* f, node* l, F&& on_free) noexcept {
    if (!f) return;
    node* before = f->prev;
    if (before) before->next = l;
    else head_ = l;
    if (l) l->prev = before;
    else tail_ = before;
    while (f != l) {
      node* nx = f->next;
      on_free(f);
      delete f;
      --count_;
      f = nx;
    }
  }
  // The nodes of a detached run, first to last.
  struct run {
    node* first = nullptr;
    node* last = nullptr;
    uint64_t count = 0;
  };
  // Unlinks the nodes from f up to but not including l (a null l means
  // through the tail) without freeing them, calling on_unlink(node*) on
  // each in chain order. An empty run when f is null.
  template <class F>
  run detach(node* f, node* l, F&& on_unlink) noexcept {
    run r;
    if (!f) return r;
    r.first = f;
    r.last = l ? l->prev : tail_;
    if (f->prev) f->prev->next = l;
    else head_ = l;
    if (l) l->prev = f->prev;
    else tail_ = f->prev;
    for (node* n = f;; n = n->next) {
      on_unlink(n);
      ++r.count;
      if (n == r.last) break;
    }
    count_ -= r.count;
    return r;
  }
  // Links a run that detach() took out back between its old neighbours.
  // REQUIRES the chain as it was right after that detach.
  void reattach(const run& r) noexcept {
    node* before = r.first->prev;
    node* after = r.last->next;
    if (before) before->next = r.first;
    else head_ = r.first;
    if (after) after->prev = r.last;
    else tail_ = r.last;
    count_ += r.count;
  }
  // Frees the nodes of a detached run.
  static void free_run(const run& r) noexcept {
    node* n = r.first;
    for (uint64_t i = 0; i < r.count; ++i) delete std::exchange(n, n->next);
  }

  template <class F>
  void remove_head(F&& on_free) noexcept {
    if (head_) erase(head_, head_->next, on_free);
  }
  template <class F>
  void remove_tail(F&& on_free) noexcept {
    if (tail_) erase(tail_, nullptr, on_free);
  }
  template <class F>
  void clear(F&& on_free) noexcept {
    erase(head_, nullptr, on_free);
  }

  // The node at 0-based index i, walking from the head; null past the end.
  node* at(uint64_t i) const noexcept {
    node* n = head_;
    while (n && i--) n = n->next;
    return n;
  }
  // The first node whose value equals x, and its 0-based index.
  node* find(const K& x, uint64_t* index) const noexcept {
    uint64_t i = 0;
    for (node* n = head_; n; n = n->next, ++i) {
      if (equal(n->value, x)) {
        *index = i;
        return n;
      }
    }
    return nullptr;
  }

  // Copies k values starting at node n into out (sized to k first).
  static void copy_out(const node* n, uint64_t k, elem_array<K>* out) {
    out->resize(k);
    for (uint64_t i = 0; i < k; ++i, n = n->next) (*out)[i] = n->value;
  }
  // Assigns x to k nodes starting at n, all or nothing: string buffers
  // grow in a first pass that may throw, the second pass cannot.
  static void assign(node* n, uint64_t k, const K& x) {
    if constexpr (std::is_same_v<K, xstring>) {
      node* p = n;
      for (uint64_t i = 0; i < k; ++i, p = p->next) p->value.reserve(x.size());
    }
    for (uint64_t i = 0; i < k; ++i, n = n->next) n->value = x;
  }

 private:
  node* head_ = nullptr;
  node* tail_ = nullptr;
  uint64_t count_ = 0;
};

}  // namespace nosql_db
