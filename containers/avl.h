// The height-balanced (AVL) search tree with parent links and subtree sizes
// behind set, multiset, map, multimap and the store's name directory.
//
// The core works on untyped avl_node links only (avl.cc): linking a new
// leaf and retracing, removal by relinking, rotations, walks, ranks and a
// structural checker. Typed nodes derive from avl_node and add the key (and
// the value); the small typed descent and bound searches are the templates
// below. Nodes are never copied: removal and re-keying relink them, so a
// node's address is stable for as long as it is in the tree.
//
// Invariants at rest: in-order walk ascending (equal keys in insertion
// order for the multi kinds); balance = height(left) - height(right) and
// within -1..+1; subtree_size = 1 + size(left) + size(right); every child's
// parent link names its parent and the root's parent is null.
// No function here allocates or throws except avl_for_each_batch, which
// allocates its batch; none takes a lock.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "lang/scalar.h"

namespace nosql_db {

struct avl_node {
  // User-provided so that the class is not a layout POD: a derived node's
  // key then reuses the tail padding after `balance` (a node of a 4-byte key
  // takes 40 bytes).
  avl_node() noexcept {}
  avl_node* parent = nullptr;
  avl_node* left = nullptr;
  avl_node* right = nullptr;
  uint64_t subtree_size = 1;
  int8_t balance = 0;
};

// The tree: its root, or null when empty. The number of nodes is the root's
// subtree_size.
struct avl_tree {
  avl_node* root = nullptr;

  uint64_t size() const noexcept { return root ? root->subtree_size : 0; }
  bool empty() const noexcept { return root == nullptr; }

  // Hangs the detached node n as a leaf under parent (as its left child when
  // left is true; parent null only for an empty tree), then retraces and
  // finds the root again. REQUIRES: that child link of parent is null and
  // the position keeps the in-order invariant.
  void link(avl_node* parent, bool left, avl_node* n) noexcept;
  // Takes x out of the tree by relinking (x keeps its memory; the caller
  // frees or reuses it). REQUIRES: x is in this tree.
  void unlink(avl_node* x) noexcept;
  // Detaches every node and calls free_node on each, children first; the
  // tree is empty afterwards. Uses no stack and no allocation.
  void clear(void (*free_node)(avl_node*)) noexcept;
};

avl_node* avl_first(avl_node* root) noexcept;
avl_node* avl_last(avl_node* root) noexcept;
// In-order successor / predecessor through parent links; null at the end.
avl_node* avl_next(avl_node* n) noexcept;
avl_node* avl_prev(avl_node* n) noexcept;
// Number of nodes that precede n in order.
uint64_t avl_rank(const avl_node* n) noexcept;
// The node with rank r (0-based) under root, or null when r >= its size.
avl_node* avl_select(avl_node* root, uint64_t r) noexcept;
// Stores the nodes of ranks first .. first + count - 1 into out[0, count),
// in order. Same result as a walk with avl_next, several times faster on a
// tree larger than the cache. REQUIRES: first + count <= t.size().
void avl_collect(const avl_tree& t, uint64_t first, uint64_t count, avl_node** out) noexcept;

// Checks every invariant of the tree: parent links, subtree sizes, balance
// equal to the real height difference and within -1..+1, and in_order(a, b)
// for every pair of neighbours a, b in order. For tests.
bool avl_verify(const avl_tree& t, bool (*in_order)(const avl_node*, const avl_node*, const void*),
                const void* ctx) noexcept;
// Height of the tree (0 when empty). For tests.
int avl_height(const avl_node* root) noexcept;

// ---- typed part ----

// Calls f(nodes, count) for every node of t in order, a batch of at most
// avl_batch consecutive nodes at a time, gathered by avl_collect. For walks
// over whole trees (dumps). Allocates the batch (may throw
// std::bad_alloc before f is called).
inline constexpr uint64_t avl_batch = 8192;
template <class F>
void avl_for_each_batch(const avl_tree& t, F&& f) {
  const uint64_t n = t.size();
  if (n == 0) return;
  const uint64_t cap = n < avl_batch ? n : avl_batch;
  const std::unique_ptr<avl_node*[]> buf(new avl_node*[cap]);
  for (uint64_t first = 0; first < n; first += cap) {
    const uint64_t count = n - first < cap ? n - first : cap;
    avl_collect(t, first, count, buf.get());
    f(static_cast<avl_node* const*>(buf.get()), count);
  }
}

template <class K>
struct key_node : avl_node {
  key_node() = default;
  explicit key_node(const K& k) : key(k) {}
  K key{};
};
template <class K, class V>
struct kv_node : key_node<K> {
  kv_node(const K& k, const V& v) : key_node<K>(k), value(v) {}
  V value;
};

// Three-way key comparison in the element order. Floats: -0 and +0 are the
// same key; NaN must never reach a tree (callers refuse it).
template <class K>
inline int key_cmp(const K& a, const K& b) noexcept {
  if constexpr (std::is_same_v<K, xstring>) return compare_keys(a, b);
  else return less(a, b) ? -1 : less(b, a) ? 1 : 0;
}
template <class K>
inline const K& key_of(const avl_node* n) noexcept {
  return static_cast<const key_node<K>*>(n)->key;
}

// Where a new key goes. Unique keys: an equal key stops the descent and is
// returned in *equal (the result is then false). Equal keys allowed (multi):
// a key not smaller than the node's goes right, so it lands after every
// equal key. On true, *parent / *left name the empty child link to fill.
template <class K>
bool avl_find_slot(const avl_tree& t, const K& k, bool multi, avl_node** parent, bool* left,
                   avl_node** equal) noexcept {
  avl_node* p = nullptr;
  bool l = false;
  for (avl_node* n = t.root; n;) {
    p = n;
    const int c = key_cmp(k, key_of<K>(n));
    if (c == 0 && !multi) {
      *equal = n;
      return false;
    }
    l = c < 0;
    n = l ? n->left : n->right;
  }
  *parent = p;
  *left = l;
  return true;
}

// Some node whose key equals k (the first met on the way down), or null.
template <class K>
avl_node* avl_find(const avl_tree& t, const K& k) noexcept {
  for (avl_node* n = t.root; n;) {
    const int c = key_cmp(k, key_of<K>(n));
    if (c == 0) return n;
    n = c < 0 ? n->left : n->right;
  }
  return nullptr;
}

// The four bound searches, each O(height). With equal keys "first" and
// "last" are the first and last copy in order.
// First node with key >= k (inclusive) or key > k (!inclusive).
template <class K>
avl_node* avl_lower(const avl_tree& t, const K& k, bool inclusive) noexcept {
  avl_node* best = nullptr;
  for (avl_node* n = t.root; n;) {
    const int c = key_cmp(key_of<K>(n), k);
    if (c > 0 || (inclusive && c == 0)) {
      best = n;
      n = n->left;
    } else {
      n = n->right;
    }
  }
  return best;
}
// Last node with key <= k (inclusive) or key < k (!inclusive).
template <class K>
avl_node* avl_upper(const avl_tree& t, const K& k, bool inclusive) noexcept {
  avl_node* best = nullptr;
  for (avl_node* n = t.root; n;) {
    const int c = key_cmp(key_of<K>(n), k);
    if (c < 0 || (inclusive && c == 0)) {
      best = n;
      n = n->right;
    } else {
      n = n->left;
    }
  }
  return best;
}

}  // namespace nosql_db
