// The counted B+tree behind set, multiset, map, multimap and the store's
// name directory.
//
// Elements (a key, and a value for the map kinds) live only in leaves, in
// sorted order, keys and values in two arrays; leaves are linked both ways
// for in-order walks. An inner node holds n separator keys, n + 1 children
// and the element count of every child, so rank and n-th come from one
// descent. Nodes are byte budgets (bt_node_bytes for leaves, twice that for
// inner nodes): small keys give wide nodes and few levels.
//
// The core (btree.cc) is untyped: it moves elements as bytes, which every
// element type here allows (an xstring holds no pointer into itself), and
// reaches typed work (destroying, copying a key or a value) through the
// function pointers of a bt_shape. The typed part is the search within a
// node and the descent, the templates at the end of this header.
//
// Invariants at rest:
//  - every leaf is at the same depth; keys ascend along the leaf chain
//    (strictly for the unique kinds; equal keys stay in insertion order);
//  - separator j of an inner node lies between child j and child j + 1:
//    max(child j) <= sep j <= min(child j + 1);
//  - counts[j] is the number of elements under child j;
//  - fill: a non-root node holds at least half its capacity (leaf_cap / 2
//    elements, (inner_cap + 1) / 2 children), except nodes on the leftmost
//    and rightmost path, which need only one. Those two paths take the
//    lopsided splits that keep ascending and descending insertion (and
//    every dump read) packed full. A root inner node has two children.
// Failure: insert allocates every node it needs before it changes anything
// and throws std::bad_alloc with the tree as it was. erase never fails: if
// the copy of a new separator cannot be allocated, it leaves the node below
// half full, which costs space, never order.
// Taking changes back: between begin_undo() and end_undo() or rollback(),
// each change (insert, remove, remove_all, replace_values) also pushes a
// record of its own, allocated before the change touches the tree, holding
// what taking it back needs: the rank of an element put in a leaf that had
// room; an element taken out (kept, not destroyed) and its rank; replaced
// values; a whole cleared tree. A change that reshapes nodes (a split, a
// merge, a borrow, a new or a lost root) keeps the images of the nodes it
// touches and, rather than freeing them, the nodes and separators it drops.
// Records are taken back newest first, each on the tree exactly as its
// change left it, so that the tree comes back node for node: taking back
// never splits, never allocates and never fails. Outside these windows a
// change pays one test of a member.
// No function here takes a lock.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "containers/base/prefetch.h"
#include "lang/scalar.h"

namespace nosql_db {

// Bytes a leaf takes, header included (malloc's chunk header fills the
// rest of 512).
inline constexpr uint32_t bt_node_bytes = 504;
// Bytes an inner node takes. Inner nodes are a few percent of a tree, so
// making them wider costs almost no memory and saves a level (a cache miss
// on every descent) in most trees of more than some 40,000 i32 keys.
inline constexpr uint32_t bt_inner_bytes = 1016;
// Levels of inner nodes a tree may reach; far beyond any memory.
inline constexpr int bt_max_height = 30;
// Largest key or value type the trees hold (xstring).
inline constexpr uint32_t bt_max_elem = 24;

// What the untyped core knows about a tree's element types.
struct bt_shape {
  uint32_t key_size;    // bytes of a key
  uint32_t val_size;    // bytes of a value; 0 when elements carry none
  uint32_t leaf_cap;    // elements per leaf
  uint32_t inner_cap;   // separators per inner node (children: one more)
  uint32_t leaf_vals;   // offset of the value array in a leaf
  uint32_t inner_kids;  // offset of the child array in an inner node
  uint32_t inner_seps;  // offset of the separator array in an inner node
  // Destroy n keys / values in place; null when there is nothing to do.
  void (*destroy_keys)(void* p, uint64_t n) noexcept;
  void (*destroy_vals)(void* p, uint64_t n) noexcept;
  // Copy-construct one key / value into raw storage; may throw
  // std::bad_alloc.
  void (*copy_key)(void* dst, const void* src);
  void (*copy_val)(void* dst, const void* src);
};

struct bt_node {
  uint16_t n;  // leaf: elements; inner: separators (children: n + 1)
  bool leaf;
};
// Keys follow the header at bt_leaf_keys, values at shape.leaf_vals.
struct bt_leaf : bt_node {
  bt_leaf* prev;
  bt_leaf* next;
};
// Child counts follow the header at bt_inner_counts, then the children at
// shape.inner_kids and the separators at shape.inner_seps.
struct bt_inner : bt_node {};

inline constexpr uint32_t bt_leaf_keys = sizeof(bt_leaf);
inline constexpr uint32_t bt_inner_counts = 8;

inline char* bt_keys(bt_leaf* l) noexcept { return reinterpret_cast<char*>(l) + bt_leaf_keys; }
inline char* bt_vals(bt_leaf* l, const bt_shape& s) noexcept { return reinterpret_cast<char*>(l) + s.leaf_vals; }
inline uint64_t* bt_counts(bt_inner* x) noexcept {
  return reinterpret_cast<uint64_t*>(reinterpret_cast<char*>(x) + bt_inner_counts);
}
inline bt_node** bt_kids(bt_inner* x, uint32_t kids_offset) noexcept {
  return reinterpret_cast<bt_node**>(reinterpret_cast<char*>(x) + kids_offset);
}
inline char* bt_seps(bt_inner* x, uint32_t seps_offset) noexcept { return reinterpret_cast<char*>(x) + seps_offset; }

// A position in the tree and the descent that reached it: node[d] is the
// inner node at depth d and idx[d] the child taken there. pos may equal
// leaf->n (just past the leaf's last element). rank counts the elements
// before the position when the descent was asked for it.
struct bt_path {
  int depth = 0;
  bt_inner* node[bt_max_height];
  uint16_t idx[bt_max_height];
  bt_leaf* leaf = nullptr;
  uint32_t pos = 0;
  uint64_t rank = 0;
};

class bt_tree {
 public:
  bt_tree() noexcept = default;
  bt_tree(const bt_tree&) = delete;
  bt_tree& operator=(const bt_tree&) = delete;

  uint64_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  bt_node* root() const noexcept { return root_; }
  bt_leaf* head() const noexcept { return head_; }
  bt_leaf* tail() const noexcept { return tail_; }
  // Levels of inner nodes above the leaves.
  int height() const noexcept { return height_; }

  // Inserts the element whose bytes are at key (and val) at p, a position
  // from a descent of this unchanged tree (any position when the tree is
  // empty). The bytes are taken over: the caller forgets its copies. Throws
  // std::bad_alloc with nothing changed and nothing taken over.
  void insert(const bt_shape& s, bt_path& p, const void* key, const void* val);
  // Destroys and removes the element at p (pos < leaf->n). Never fails.
  void erase(const bt_shape& s, bt_path& p) noexcept;
  // Destroys every element and frees every node.
  void clear(const bt_shape& s) noexcept;

  // The changes of a tree that may be recording: as erase and clear, but
  // while recording they keep what they remove, and may throw
  // std::bad_alloc (with nothing changed) for the record.
  void remove(const bt_shape& s, bt_path& p) {
    if (recording_) [[unlikely]] erase_recorded(s, p);
    else erase(s, p);
  }
  void remove_all(const bt_shape& s);
  // Puts the m values at vals (taken over) in place of the values of the m
  // elements from rank r on, whose values are destroyed (kept, while
  // recording). REQUIRES r + m <= size. Throws std::bad_alloc only while
  // recording, with nothing changed and nothing taken over.
  void replace_values(const bt_shape& s, uint64_t r, uint64_t m, const void* vals);

  // Recording (see the top of this file). begin_undo REQUIRES no window
  // open. undo_mark() names the records so far; rollback_to() takes back
  // the ones after it, newest first (for a change of several steps that
  // fails part way). end_undo() keeps every change and frees what the
  // records kept; rollback() takes every change back. None of the three
  // allocates. The tree's owner ends the window before it clears the tree.
  struct undo_rec;     // one change's record (btree.cc)
  struct reshape_rec;  // the part of a record that reshaped nodes (btree.cc)
  void begin_undo() noexcept { recording_ = true; }
  bool recording() const noexcept { return recording_; }
  undo_rec* undo_mark() const noexcept { return undo_top_; }
  void rollback_to(const bt_shape& s, undo_rec* mark) noexcept;
  void rollback(const bt_shape& s) noexcept;
  void end_undo(const bt_shape& s) noexcept;

  // The path to the element of rank r, or to the end when r >= size.
  void seek_rank(const bt_shape& s, uint64_t r, bt_path* p) const noexcept;
  // The path to the end: just past the last element.
  void seek_end(const bt_shape& s, bt_path* p) const noexcept;

  // Checks every invariant above; cmp(a, b) compares two keys (<0, 0, >0),
  // multi admits equal neighbours. For tests.
  bool verify(const bt_shape& s, int (*cmp)(const void* a, const void* b), bool multi) const noexcept;

 private:
  struct split_plan;  // how a full leaf and the full nodes above it split
  struct split_pair;  // a node that split, on its way into its parent

  // The steps of insert and erase, each with its contract in btree.cc.
  // Those on the common path are inline, so that insert and erase compile
  // to one body there as before (btree.cc alone uses them).
  void plant_root(const bt_shape& s, const void* key, const void* val);
  void split_insert(const bt_shape& s, const bt_path& p, const void* key, const void* val, reshape_rec* note);
  inline void insert_in_leaf(const bt_shape& s, const bt_path& p, const void* key, const void* val) noexcept;
  void split_leaf(const bt_shape& s, const bt_path& p, uint32_t keep, const void* key, const void* val,
                  bt_leaf* right, split_pair& up) noexcept;
  void insert_in_parents(const bt_shape& s, const bt_path& p, const split_plan& plan, bt_inner* const* fresh,
                         split_pair& up) noexcept;
  static void insert_in_inner(const bt_shape& s, bt_inner* x, uint32_t i, const split_pair& up) noexcept;
  static void split_inner(const bt_shape& s, bt_inner* x, uint32_t i, uint32_t keep, bt_inner* y,
                          split_pair& up) noexcept;
  void grow_root(const bt_shape& s, bt_inner* top, const split_pair& up) noexcept;
  inline void remove_from_leaf(const bt_shape& s, const bt_path& p) noexcept;
  inline void close_gap(const bt_shape& s, const bt_path& p) noexcept;
  inline void rebalance(const bt_shape& s, const bt_path& p) noexcept;
  bool drop_child(const bt_shape& s, bt_inner* parent, uint32_t i) noexcept;
  bool rebalance_child(const bt_shape& s, bt_inner* parent, uint32_t i) noexcept;
  inline void shrink_root(const bt_shape& s) noexcept;

  void unlink_leaf(bt_leaf* l) noexcept;
  bool merge_leaves(const bt_shape& s, bt_inner* parent, uint32_t li, bt_leaf* a, bt_leaf* b) noexcept;
  bool merge_inners(const bt_shape& s, bt_inner* parent, uint32_t li, bt_inner* a, bt_inner* b) noexcept;
  static void drop_right_of(const bt_shape& s, bt_inner* x, uint32_t li) noexcept;
  void borrow_leaf(const bt_shape& s, uint64_t* c, char* sep, bt_leaf* a, bt_leaf* b, bool from_left) noexcept;
  static void rotate_inner(const bt_shape& s, uint64_t* c, char* sep, bt_inner* a, bt_inner* b, bool from_left) noexcept;
  void drop_sep(const bt_shape& s, void* sep) noexcept;
  void drop_node(bt_node* x) noexcept;

  // Recording and taking back, each with its contract in btree.cc.
  void insert_recorded(const bt_shape& s, bt_path& p, const void* key, const void* val);
  void erase_recorded(const bt_shape& s, bt_path& p);
  void reshape_erase(const bt_shape& s, bt_path& p, const bool* on_edge);
  reshape_rec* start_reshape(uint8_t kind, bt_node* const* touch, int n, uint32_t node_cap, uint32_t key_cap,
                             undo_rec** rec);
  void push(undo_rec* r) noexcept;
  void take_back(const bt_shape& s, undo_rec* r) noexcept;
  void take_back_reshape(const bt_shape& s, undo_rec* r) noexcept;
  void keep_change(const bt_shape& s, undo_rec* r) noexcept;
  void put_values(const bt_shape& s, uint64_t r, uint64_t m, const char* from, char* keep) noexcept;

  bt_node* root_ = nullptr;
  bt_leaf* head_ = nullptr;
  bt_leaf* tail_ = nullptr;
  uint64_t size_ = 0;
  int height_ = 0;
  bool recording_ = false;
  undo_rec* undo_top_ = nullptr;  // the newest record; each names the one before
  reshape_rec* note_ = nullptr;   // while a reshaping erase runs recorded: its record
};

// ---- typed part ----

// Elements of sets carry no value.
struct bt_no_value {};

template <class T>
consteval uint32_t bt_size_of() {
  if constexpr (std::is_same_v<T, bt_no_value>) return 0;
  else return sizeof(T);
}

template <class T>
void bt_destroy(void* p, uint64_t n) noexcept {
  T* a = static_cast<T*>(p);
  for (uint64_t i = 0; i < n; ++i) a[i].~T();
}
template <class T>
void bt_copy(void* dst, const void* src) {
  ::new (dst) T(*static_cast<const T*>(src));
}

// The layout of a tree of keys K and values V within bt_node_bytes.
template <class K, class V>
consteval bt_shape bt_shape_of() {
  constexpr uint32_t ks = sizeof(K);
  constexpr uint32_t vs = bt_size_of<V>();
  static_assert(ks <= bt_max_elem && vs <= bt_max_elem);
  static_assert(std::is_nothrow_destructible_v<K>);
  bt_shape s{};
  s.key_size = ks;
  s.val_size = vs;
  uint32_t cap = (bt_node_bytes - bt_leaf_keys) / (ks + vs);
  auto vals_at = [&](uint32_t c) {
    uint32_t off = bt_leaf_keys + c * ks;
    if constexpr (vs > 0) off = (off + alignof(V) - 1) / alignof(V) * alignof(V);
    return off;
  };
  while (vals_at(cap) + cap * vs > bt_node_bytes) --cap;
  s.leaf_cap = cap;
  s.leaf_vals = vals_at(cap);
  // counts and children: 8 bytes each per child; separators after them.
  const uint32_t icap = (bt_inner_bytes - bt_inner_counts - 16) / (16 + ks);
  s.inner_cap = icap;
  s.inner_kids = bt_inner_counts + 8 * (icap + 1);
  s.inner_seps = s.inner_kids + 8 * (icap + 1);
  if constexpr (!std::is_trivially_destructible_v<K>) s.destroy_keys = &bt_destroy<K>;
  s.copy_key = &bt_copy<K>;
  if constexpr (vs > 0) {
    if constexpr (!std::is_trivially_destructible_v<V>) s.destroy_vals = &bt_destroy<V>;
    s.copy_val = &bt_copy<V>;
  }
  return s;
}
template <class K, class V>
inline constexpr bt_shape bt_shape_v = bt_shape_of<K, V>();

// Three-way key comparison for bt_tree::verify.
template <class K>
int bt_compare(const void* a, const void* b) noexcept;

// Key order of the trees. Strings and names: bytes as signed numbers.
template <class K>
inline bool bt_less(const K& a, const K& b) noexcept {
  return less(a, b);
}
template <>
inline bool bt_less<std::string_view>(const std::string_view& a, const std::string_view& b) noexcept {
  return compare_bytes(a, b) < 0;
}
template <class K>
inline bool bt_same(const K& a, const K& b) noexcept {
  return !bt_less(a, b) && !bt_less(b, a);
}

template <class K>
int bt_compare(const void* a, const void* b) noexcept {
  const K& x = *static_cast<const K*>(a);
  const K& y = *static_cast<const K*>(b);
  return bt_less(x, y) ? -1 : bt_less(y, x) ? 1 : 0;
}

// The number of keys in the sorted a[0, n) below k (Upper: not above k),
// for integer keys: 16 bytes of keys per compare, whatever the optimisation
// level. Every load is independent of the others, so a node's cache lines
// are waited for together rather than one per step of a bisection.
template <class K, bool Upper>
inline uint32_t bt_count_below(const K* a, uint32_t n, K k) noexcept {
  uint32_t c = 0, i = 0;
#if defined(__GNUC__)
  using S = std::make_signed_t<K>;
  typedef K keys __attribute__((vector_size(16)));
  typedef S counts __attribute__((vector_size(16)));
  constexpr uint32_t lanes = 16 / sizeof(K);
  // A lane counts at most bt_node_bytes / 16 keys, which even an 8-bit
  // lane holds.
  static_assert(bt_node_bytes / 16 <= 127);
  keys key;
  for (uint32_t j = 0; j < lanes; ++j) key[j] = k;
  counts acc = {};  // minus the count of each lane (a true compare is -1)
  for (; i + lanes <= n; i += lanes) {
    keys x;
    std::memcpy(&x, a + i, sizeof x);
    acc += reinterpret_cast<counts>(Upper ? x <= key : x < key);
  }
  for (uint32_t j = 0; j < lanes; ++j) c -= static_cast<uint32_t>(static_cast<int32_t>(acc[j]));
#endif
  for (; i < n; ++i) c += Upper ? (a[i] <= k) : (a[i] < k);
  return c;
}

// First index i in a[0, n) with a[i] >= k (Upper: a[i] > k).
template <class K, bool Upper>
inline uint32_t bt_bound(const K* a, uint32_t n, const K& k) noexcept {
  if constexpr (std::is_integral_v<K>) return bt_count_below<K, Upper>(a, n, k);
  if (n == 0) return 0;
  // Branch-free: the step is a multiply, not a jump the predictor would
  // miss half the time.
  const K* base = a;
  while (n > 1) {
    const uint32_t half = n / 2;
    const bool right = Upper ? !bt_less(k, base[half - 1]) : bt_less(base[half - 1], k);
    base += static_cast<uint32_t>(right) * half;
    n -= half;
  }
  const bool right = Upper ? !bt_less(k, base[0]) : bt_less(base[0], k);
  return static_cast<uint32_t>(base - a) + (right ? 1 : 0);
}

template <class K>
inline K* bt_leaf_key(bt_leaf* l, uint32_t i) noexcept {
  return reinterpret_cast<K*>(bt_keys(l)) + i;
}

// Descends to the first element >= k (Upper: > k), recording the path and,
// when Rank, the number of elements before it. On an empty tree the path
// has no leaf.
template <class K, bool Upper, bool Rank>
void bt_seek(const bt_tree& t, const bt_shape& s, const K& k, bt_path* p) noexcept {
  p->depth = 0;
  uint64_t r = 0;
  bt_node* x = t.root();
  if (!x) {
    p->leaf = nullptr;
    p->pos = 0;
    p->rank = 0;
    return;
  }
  // Every cache line of a node is asked for at once, as soon as the node is
  // known: the search within it then waits for memory about once, not once
  // per step, and the child pointer and counts are there when it ends.
  int h = t.height();  // inner levels below x
  if (h > 0) prefetch_lines<bt_inner_bytes>(x);
  else prefetch_lines<bt_node_bytes>(x);
  for (; h > 0; --h) {
    bt_inner* in = static_cast<bt_inner*>(x);
    const K* seps = reinterpret_cast<const K*>(bt_seps(in, s.inner_seps));
    const uint32_t i = bt_bound<K, Upper>(seps, in->n, k);
    if constexpr (Rank) {
      const uint64_t* c = bt_counts(in);
      for (uint32_t j = 0; j < i; ++j) r += c[j];
    }
    p->node[p->depth] = in;
    p->idx[p->depth] = static_cast<uint16_t>(i);
    ++p->depth;
    x = bt_kids(in, s.inner_kids)[i];
    if (h > 1) prefetch_lines<bt_inner_bytes>(x);
    else prefetch_lines<bt_node_bytes>(x);
  }
  bt_leaf* l = static_cast<bt_leaf*>(x);
  p->leaf = l;
  p->pos = bt_bound<K, Upper>(bt_leaf_key<K>(l, 0), l->n, k);
  p->rank = r + p->pos;
}

// A position that names an element: (leaf, i) with i < leaf->n, or leaf
// null for the end.
struct bt_pos {
  bt_leaf* leaf = nullptr;
  uint32_t i = 0;
  bool end() const noexcept { return leaf == nullptr; }
};
// The element at or after a descent's position.
inline bt_pos bt_at(const bt_path& p) noexcept {
  if (!p.leaf) return {};
  if (p.pos < p.leaf->n) return {p.leaf, p.pos};
  return {p.leaf->next, 0};
}
inline bt_pos bt_next(bt_pos q) noexcept {
  if (++q.i < q.leaf->n) return q;
  return {q.leaf->next, 0};
}

}  // namespace nosql_db
