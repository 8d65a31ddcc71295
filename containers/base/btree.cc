// The untyped B+tree core: insertion with splits, removal with merges and
// borrowing, descents by rank, clearing and the structural checker.
#include "containers/base/btree.h"

#include <cassert>
#include <cstdlib>

namespace nosql_db {
namespace {

// Room for the elements of a full node plus one, for splits.
constexpr uint32_t scratch_bytes = 2 * (bt_node_bytes > bt_inner_bytes ? bt_node_bytes : bt_inner_bytes);

uint32_t leaf_min(const bt_shape& s) noexcept { return s.leaf_cap / 2; }
uint32_t inner_min_kids(const bt_shape& s) noexcept { return (s.inner_cap + 1) / 2; }

bt_leaf* new_leaf() {
  auto* l = static_cast<bt_leaf*>(::operator new(bt_node_bytes));
  l->n = 0;
  l->leaf = true;
  l->prev = l->next = nullptr;
  return l;
}
bt_inner* new_inner() {
  auto* x = static_cast<bt_inner*>(::operator new(bt_inner_bytes));
  x->n = 0;
  x->leaf = false;
  return x;
}
void free_node(bt_node* x) noexcept { ::operator delete(x); }

char* key_at(bt_leaf* l, const bt_shape& s, uint32_t i) noexcept { return bt_keys(l) + uint64_t{i} * s.key_size; }
char* val_at(bt_leaf* l, const bt_shape& s, uint32_t i) noexcept { return bt_vals(l, s) + uint64_t{i} * s.val_size; }
char* sep_at(bt_inner* x, const bt_shape& s, uint32_t i) noexcept {
  return bt_seps(x, s.inner_seps) + uint64_t{i} * s.key_size;
}
bt_node** kids(bt_inner* x, const bt_shape& s) noexcept { return bt_kids(x, s.inner_kids); }

// Moves n elements from src[from] to dst[to] (the ranges may overlap).
void move_elems(const bt_shape& s, bt_leaf* dst, uint32_t to, bt_leaf* src, uint32_t from, uint32_t n) noexcept {
  if (n == 0) return;
  std::memmove(key_at(dst, s, to), key_at(src, s, from), uint64_t{n} * s.key_size);
  if (s.val_size) std::memmove(val_at(dst, s, to), val_at(src, s, from), uint64_t{n} * s.val_size);
}
// Moves n separators, and the n children and counts that follow each of
// them (child j + 1 belongs to separator j).
void move_seps(const bt_shape& s, bt_inner* dst, uint32_t to, bt_inner* src, uint32_t from, uint32_t n) noexcept {
  if (n == 0) return;
  std::memmove(sep_at(dst, s, to), sep_at(src, s, from), uint64_t{n} * s.key_size);
}
void move_kids(const bt_shape& s, bt_inner* dst, uint32_t to, bt_inner* src, uint32_t from, uint32_t n) noexcept {
  if (n == 0) return;
  std::memmove(kids(dst, s) + to, kids(src, s) + from, uint64_t{n} * sizeof(bt_node*));
  std::memmove(bt_counts(dst) + to, bt_counts(src) + from, uint64_t{n} * sizeof(uint64_t));
}

uint64_t sum_counts(bt_inner* x) noexcept {
  uint64_t t = 0;
  const uint64_t* c = bt_counts(x);
  for (uint32_t j = 0; j <= x->n; ++j) t += c[j];
  return t;
}

void destroy_key(const bt_shape& s, void* k) noexcept {
  if (s.destroy_keys) s.destroy_keys(k, 1);
}

// A node with fill elements (a leaf) or children (an inner node), on the
// leftmost or rightmost path or not, needs no rebalancing.
bool at_rest(const bt_shape& s, bool leaf, uint32_t fill, bool on_edge) noexcept {
  return fill >= (leaf ? leaf_min(s) : inner_min_kids(s)) || (fill >= 1 && on_edge);
}

// Nodes a split needs, allocated before anything changes; what is not
// handed out goes back.
struct node_reserve {
  bt_leaf* leaf = nullptr;
  bt_inner* inner[bt_max_height + 1] = {};
  int inners = 0;
  ~node_reserve() {
    free_node(leaf);
    for (int i = 0; i < inners; ++i) free_node(inner[i]);
  }
  // A leaf and n inner nodes; may throw, and then the destructor frees
  // the ones allocated.
  void allocate(int n) {
    leaf = new_leaf();
    while (inners < n) inner[inners++] = new_inner();
  }
  // The caller takes every node (the arrays stay readable until the end of
  // the reserve's scope).
  void release() noexcept {
    leaf = nullptr;
    inners = 0;
  }
};

// Writes the n items of size bytes at a to dst, with x inserted before
// item pos: n + 1 items.
void splice(void* dst, const void* a, uint32_t n, uint32_t pos, const void* x, uint32_t size) noexcept {
  auto* d = static_cast<char*>(dst);
  const auto* from = static_cast<const char*>(a);
  std::memcpy(d, from, uint64_t{pos} * size);
  std::memcpy(d + uint64_t{pos} * size, x, size);
  std::memcpy(d + uint64_t{pos + 1} * size, from + uint64_t{pos} * size, uint64_t{n - pos} * size);
}
// Copies the first keep of the n items of size bytes at src to left, the
// rest to right.
void share(const void* src, uint32_t n, uint32_t keep, uint32_t size, void* left, void* right) noexcept {
  const auto* from = static_cast<const char*>(src);
  std::memcpy(left, from, uint64_t{keep} * size);
  std::memcpy(right, from + uint64_t{keep} * size, uint64_t{n - keep} * size);
}

// REQUIRES: p.leaf is full, and its split leaves keep of the cap + 1
// elements (the new key among them) on the left. Copies the first key of
// the right half into sep; may throw std::bad_alloc.
void copy_separator(const bt_shape& s, const bt_path& p, uint32_t keep, const void* key, void* sep) {
  const uint32_t pos = p.pos;
  s.copy_key(sep, keep == pos ? key : key_at(p.leaf, s, keep < pos ? keep : keep - 1));
}

// REQUIRES: p is a descent. on_edge[d]: the node at depth d (the leaf at
// p.depth) lies on the leftmost or rightmost path.
void mark_edges(const bt_path& p, bool* on_edge) noexcept {
  bool l = true, r = true;
  on_edge[0] = true;
  for (int d = 0; d < p.depth; ++d) {
    l = l && p.idx[d] == 0;
    r = r && p.idx[d] == p.node[d]->n;
    on_edge[d + 1] = l || r;
  }
}

}  // namespace

// ---- Records of changes (btree.h, "Taking changes back") ----

struct bt_tree::undo_rec {
  enum : uint8_t { put, take, values, all, put_reshaped, take_reshaped };
  undo_rec* prev;  // the record before this one
  uint64_t rank;   // put, take, values: the rank of the (first) element
  uint64_t count;  // values: how many
  uint8_t kind;
  bool at_end;  // take: the element was the last of its leaf
  // The body follows: take, the element's key and value; values, the old
  // values; all, the cleared tree's header (a reshape_rec, in part);
  // *_reshaped, a reshape_rec.
};

// The body of a change that reshaped nodes. node_cap node pointers follow
// it, then key_cap key slots, then the images: each node's address, then
// its bytes as they were.
struct bt_tree::reshape_rec {
  bt_node* root;  // the tree's header as it was
  bt_leaf* head;
  bt_leaf* tail;
  uint64_t size;
  int height;
  uint32_t images;
  uint16_t nodes, node_cap;  // put: the nodes it made; take: the nodes it dropped
  uint16_t keys, key_cap;    // put: the keys it made (the element's, a separator);
                             // take: the keys it dropped (the element's, separators)
  bool val;   // val_bytes holds the element's value (put: made; take: dropped)
  bool born;  // take: born_bytes holds the separator a borrow made
  alignas(16) unsigned char val_bytes[bt_max_elem];
  alignas(16) unsigned char born_bytes[bt_max_elem];
};

namespace {

using undo_rec = bt_tree::undo_rec;
using reshape_rec = bt_tree::reshape_rec;

constexpr uint64_t align16(uint64_t n) noexcept { return (n + 15) / 16 * 16; }
constexpr uint64_t rec_bytes = align16(sizeof(undo_rec));
constexpr uint64_t reshape_bytes = align16(sizeof(reshape_rec));
constexpr uint64_t key_slot = (bt_max_elem + 7) / 8 * 8;

// Where the parts of a record lie (see the two structs above).
unsigned char* body(undo_rec* r) noexcept { return reinterpret_cast<unsigned char*>(r) + rec_bytes; }
reshape_rec* reshape_of(undo_rec* r) noexcept { return reinterpret_cast<reshape_rec*>(body(r)); }
bt_node** nodes_of(reshape_rec* x) noexcept {
  return reinterpret_cast<bt_node**>(reinterpret_cast<unsigned char*>(x) + reshape_bytes);
}
unsigned char* key_of(reshape_rec* x, uint32_t i) noexcept {
  return reinterpret_cast<unsigned char*>(nodes_of(x) + x->node_cap) + i * key_slot;
}
unsigned char* images_of(reshape_rec* x) noexcept { return key_of(x, x->key_cap); }
uint32_t node_size(const bt_node* x) noexcept { return x->leaf ? bt_node_bytes : bt_inner_bytes; }
// Where a take record keeps the element's value, after its key.
uint64_t take_val_at(const bt_shape& s) noexcept { return (s.key_size + 7) / 8 * 8; }

// A record of the given kind, with body bytes after it; may throw
// std::bad_alloc.
undo_rec* new_rec(uint8_t kind, uint64_t body) {
  return ::new (::operator new(rec_bytes + body)) undo_rec{nullptr, 0, 0, kind, false};
}

// A node, key or value that a reshaping change made or dropped, kept in
// its record x. Keys and values are kept only when they have a destructor
// to run later; the record has room for all (see their callers).
void note_node(reshape_rec* x, bt_node* n) noexcept {
  assert(x->nodes < x->node_cap);
  nodes_of(x)[x->nodes++] = n;
}
void note_key(const bt_shape& s, reshape_rec* x, const void* k) noexcept {
  if (!s.destroy_keys) return;
  assert(x->keys < x->key_cap);
  std::memcpy(key_of(x, x->keys++), k, s.key_size);
}
void note_val(const bt_shape& s, reshape_rec* x, const void* v) noexcept {
  if (!s.destroy_vals) return;
  std::memcpy(x->val_bytes, v, s.val_size);
  x->val = true;
}
void note_born(const bt_shape& s, reshape_rec* x, const void* k) noexcept {
  if (!s.destroy_keys) return;
  std::memcpy(x->born_bytes, k, s.key_size);
  x->born = true;
}
// A split made a leaf, inners inner nodes and the separator sep.
void note_split(const bt_shape& s, reshape_rec* x, bt_leaf* leaf, bt_inner* const* inner, int inners,
                const void* sep) noexcept {
  note_node(x, leaf);
  for (int i = 0; i < inners; ++i) note_node(x, inner[i]);
  note_key(s, x, sep);
}

// Destroys the key or value whose bytes lie at p (a record's slot).
void destroy_key_bytes(const bt_shape& s, const void* p) noexcept {
  if (!s.destroy_keys) return;
  alignas(16) unsigned char k[bt_max_elem];
  std::memcpy(k, p, s.key_size);
  s.destroy_keys(k, 1);
}
void destroy_val_bytes(const bt_shape& s, const void* p) noexcept {
  if (!s.destroy_vals) return;
  alignas(16) unsigned char v[bt_max_elem];
  std::memcpy(v, p, s.val_size);
  s.destroy_vals(v, 1);
}

// The rank of the position p names.
uint64_t path_rank(const bt_path& p) noexcept {
  uint64_t r = p.pos;
  for (int d = 0; d < p.depth; ++d) {
    const uint64_t* c = bt_counts(p.node[d]);
    for (uint32_t j = 0; j < p.idx[d]; ++j) r += c[j];
  }
  return r;
}

}  // namespace

// How a full leaf and the full inner nodes above it split, decided before
// anything changes.
struct bt_tree::split_plan {
  int full = 0;        // full inner nodes right above the leaf: each splits
  bool grows = false;  // every inner node on the path is full: a new root
  // The new element goes at the very end (start) of the tree: the splits
  // leave the old nodes full, so that ordered input packs.
  bool append = false, prepend = false;
  uint32_t keep = 0;  // elements that stay in the old leaf, of cap + 1
  // The node at depth d lies on the leftmost / rightmost path.
  bool on_left[bt_max_height + 1], on_right[bt_max_height + 1];

  // REQUIRES: p is a descent of the tree, to a full leaf.
  split_plan(const bt_shape& s, const bt_path& p) noexcept {
    for (int d = p.depth - 1; d >= 0 && p.node[d]->n == s.inner_cap; --d) ++full;
    grows = full == p.depth;
    on_left[0] = on_right[0] = true;
    for (int d = 0; d < p.depth; ++d) {
      on_left[d + 1] = on_left[d] && p.idx[d] == 0;
      on_right[d + 1] = on_right[d] && p.idx[d] == p.node[d]->n;
    }
    const uint32_t cap = s.leaf_cap;
    append = p.pos == cap && !p.leaf->next;
    prepend = p.pos == 0 && !p.leaf->prev;
    keep = append ? cap : prepend ? 1 : (cap + 1) / 2;
  }
  // REQUIRES: the inner node at depth d is full and its child i split.
  // Separators it keeps of its inner_cap + 1; the next one goes up.
  uint32_t keep_seps(const bt_shape& s, int d, uint32_t i) const noexcept {
    if (append && on_right[d] && i == s.inner_cap) return s.inner_cap;
    if (prepend && on_left[d] && i == 0) return 0;
    return s.inner_cap / 2;
  }
};

// A node that split in two: right, after separator sep, joins left (child
// i of the parent) in the parent.
struct bt_tree::split_pair {
  bt_node* left;
  bt_node* right;
  uint64_t left_count, right_count;
  alignas(16) unsigned char sep[bt_max_elem];
};

void bt_tree::insert(const bt_shape& s, bt_path& p, const void* key, const void* val) {
  if (recording_) [[unlikely]] {
    insert_recorded(s, p, key, val);
    return;
  }
  if (!root_) {
    plant_root(s, key, val);
    return;
  }
  if (p.leaf->n < s.leaf_cap) {
    insert_in_leaf(s, p, key, val);
    return;
  }
  split_insert(s, p, key, val, nullptr);
}

// REQUIRES: p.leaf is full. Splits it, and the full nodes above it, to
// take the element in; note, when given, is told the nodes and the
// separator the split makes. Throws std::bad_alloc with nothing changed.
void bt_tree::split_insert(const bt_shape& s, const bt_path& p, const void* key, const void* val,
                           reshape_rec* note) {
  const split_plan plan(s, p);
  if (plan.grows && height_ + 1 >= bt_max_height) throw std::bad_alloc();
  node_reserve r;
  r.allocate(plan.full + (plan.grows ? 1 : 0));
  split_pair up;
  copy_separator(s, p, plan.keep, key, up.sep);  // may throw: r frees its nodes
  // ---- nothing fails from here on ----
  if (note) note_split(s, note, r.leaf, r.inner, r.inners, up.sep);
  bt_leaf* right = r.leaf;
  r.release();
  for (int d = 0; d < p.depth; ++d) ++bt_counts(p.node[d])[p.idx[d]];
  ++size_;
  split_leaf(s, p, plan.keep, key, val, right, up);
  insert_in_parents(s, p, plan, r.inner, up);
}

// REQUIRES: the tree is empty. A leaf with the one element becomes the
// root; may throw std::bad_alloc.
void bt_tree::plant_root(const bt_shape& s, const void* key, const void* val) {
  bt_leaf* l = new_leaf();
  std::memcpy(key_at(l, s, 0), key, s.key_size);
  if (s.val_size) std::memcpy(val_at(l, s, 0), val, s.val_size);
  l->n = 1;
  root_ = head_ = tail_ = l;
  size_ = 1;
  height_ = 0;
}

// REQUIRES: p.leaf is not full. Puts the element at p.pos.
void bt_tree::insert_in_leaf(const bt_shape& s, const bt_path& p, const void* key, const void* val) noexcept {
  bt_leaf* leaf = p.leaf;
  const uint32_t pos = p.pos;
  move_elems(s, leaf, pos + 1, leaf, pos, leaf->n - pos);
  std::memcpy(key_at(leaf, s, pos), key, s.key_size);
  if (s.val_size) std::memcpy(val_at(leaf, s, pos), val, s.val_size);
  ++leaf->n;
  for (int d = 0; d < p.depth; ++d) ++bt_counts(p.node[d])[p.idx[d]];
  ++size_;
}

// REQUIRES: p.leaf is full; right is a fresh leaf; up.sep is set. Shares
// the leaf's elements and the new one at p.pos between the leaf (the first
// keep) and right, links right after the leaf, and fills in up.
void bt_tree::split_leaf(const bt_shape& s, const bt_path& p, uint32_t keep, const void* key, const void* val,
                         bt_leaf* right, split_pair& up) noexcept {
  bt_leaf* leaf = p.leaf;
  const uint32_t cap = s.leaf_cap;
  alignas(16) char buf[scratch_bytes];
  splice(buf, key_at(leaf, s, 0), cap, p.pos, key, s.key_size);
  share(buf, cap + 1, keep, s.key_size, key_at(leaf, s, 0), key_at(right, s, 0));
  if (s.val_size) {
    splice(buf, val_at(leaf, s, 0), cap, p.pos, val, s.val_size);
    share(buf, cap + 1, keep, s.val_size, val_at(leaf, s, 0), val_at(right, s, 0));
  }
  leaf->n = static_cast<uint16_t>(keep);
  right->n = static_cast<uint16_t>(cap + 1 - keep);
  right->prev = leaf;
  right->next = leaf->next;
  if (leaf->next) leaf->next->prev = right;
  else tail_ = right;
  leaf->next = right;
  up.left = leaf;
  up.right = right;
  up.left_count = keep;
  up.right_count = cap + 1 - keep;
}

// REQUIRES: up holds the halves of p.leaf; fresh holds one new inner node
// for each full one above the leaf, and one more when the root splits.
// Hangs up.right in the parent, splitting full inner nodes on the way up.
void bt_tree::insert_in_parents(const bt_shape& s, const bt_path& p, const split_plan& plan, bt_inner* const* fresh,
                                split_pair& up) noexcept {
  for (int d = p.depth - 1; d >= 0; --d) {
    bt_inner* x = p.node[d];
    const uint32_t i = p.idx[d];  // up.left is child i
    if (x->n < s.inner_cap) {
      insert_in_inner(s, x, i, up);
      return;
    }
    split_inner(s, x, i, plan.keep_seps(s, d, i), *fresh++, up);
  }
  grow_root(s, *fresh, up);
}

// REQUIRES: x is not full; up.left is its child i. Puts up.sep and
// up.right after child i.
void bt_tree::insert_in_inner(const bt_shape& s, bt_inner* x, uint32_t i, const split_pair& up) noexcept {
  move_seps(s, x, i + 1, x, i, x->n - i);
  move_kids(s, x, i + 2, x, i + 1, x->n - i);
  std::memcpy(sep_at(x, s, i), up.sep, s.key_size);
  kids(x, s)[i + 1] = up.right;
  bt_counts(x)[i] = up.left_count;
  bt_counts(x)[i + 1] = up.right_count;
  ++x->n;
}

// REQUIRES: x is full; up.left is its child i; y is a fresh inner node.
// Lays out x's separators and children with up's, keeps the first keep
// separators in x, moves the ones after the next to y, and makes up the
// pair (x, y) with that next separator between them.
void bt_tree::split_inner(const bt_shape& s, bt_inner* x, uint32_t i, uint32_t keep, bt_inner* y,
                          split_pair& up) noexcept {
  const uint32_t icap = s.inner_cap, ks = s.key_size;
  alignas(16) char sbuf[scratch_bytes];
  bt_node* kbuf[bt_inner_bytes / 8 + 2];
  uint64_t cbuf[bt_inner_bytes / 8 + 2];
  splice(sbuf, sep_at(x, s, 0), icap, i, up.sep, ks);
  splice(kbuf, kids(x, s), icap + 1, i + 1, &up.right, sizeof(bt_node*));
  splice(cbuf, bt_counts(x), icap + 1, i + 1, &up.right_count, sizeof(uint64_t));
  cbuf[i] = up.left_count;  // kbuf[i] is up.left already
  const uint32_t rest = icap - keep;
  std::memcpy(sep_at(x, s, 0), sbuf, uint64_t{keep} * ks);
  std::memcpy(sep_at(y, s, 0), sbuf + uint64_t{keep + 1} * ks, uint64_t{rest} * ks);
  std::memcpy(up.sep, sbuf + uint64_t{keep} * ks, ks);
  share(kbuf, icap + 2, keep + 1, sizeof(bt_node*), kids(x, s), kids(y, s));
  share(cbuf, icap + 2, keep + 1, sizeof(uint64_t), bt_counts(x), bt_counts(y));
  x->n = static_cast<uint16_t>(keep);
  y->n = static_cast<uint16_t>(rest);
  up.left = x;
  up.right = y;
  up.left_count = sum_counts(x);
  up.right_count = sum_counts(y);
}

// REQUIRES: up holds the halves of the old root; top is a fresh inner
// node. top becomes the root, above the two.
void bt_tree::grow_root(const bt_shape& s, bt_inner* top, const split_pair& up) noexcept {
  top->n = 1;
  std::memcpy(sep_at(top, s, 0), up.sep, s.key_size);
  kids(top, s)[0] = up.left;
  kids(top, s)[1] = up.right;
  bt_counts(top)[0] = up.left_count;
  bt_counts(top)[1] = up.right_count;
  root_ = top;
  ++height_;
}

void bt_tree::erase(const bt_shape& s, bt_path& p) noexcept {
  remove_from_leaf(s, p);
  rebalance(s, p);
  shrink_root(s);
}

// REQUIRES: p.pos < p.leaf->n. Destroys the element there and closes the
// gap; the counts on the path go down by one.
void bt_tree::remove_from_leaf(const bt_shape& s, const bt_path& p) noexcept {
  destroy_key(s, key_at(p.leaf, s, p.pos));
  if (s.destroy_vals) s.destroy_vals(val_at(p.leaf, s, p.pos), 1);
  close_gap(s, p);
}

// remove_from_leaf, but the element's bytes are someone else's now.
void bt_tree::close_gap(const bt_shape& s, const bt_path& p) noexcept {
  bt_leaf* leaf = p.leaf;
  const uint32_t pos = p.pos;
  move_elems(s, leaf, pos, leaf, pos + 1, leaf->n - pos - 1);
  --leaf->n;
  --size_;
  for (int d = 0; d < p.depth; ++d) --bt_counts(p.node[d])[p.idx[d]];
}

// REQUIRES: p is the path remove_from_leaf took. Walks up from the leaf
// while a node is empty (it goes) or below half full (it merges with a
// neighbour, or borrows from one and the walk ends).
void bt_tree::rebalance(const bt_shape& s, const bt_path& p) noexcept {
  bool on_edge[bt_max_height + 1];
  mark_edges(p, on_edge);
  // emptied: x is an inner node whose only child went. (The root never
  // empties this way: at rest it has two children, or is the leaf.)
  bt_node* x = p.leaf;
  bool emptied = false;
  for (int d = p.depth; d > 0; --d) {
    bt_inner* parent = p.node[d - 1];
    const uint32_t i = p.idx[d - 1];
    const uint32_t fill = emptied ? 0 : x->leaf ? x->n : x->n + 1u;  // elements or children
    if (at_rest(s, x->leaf, fill, on_edge[d])) return;
    if (fill == 0) {
      emptied = drop_child(s, parent, i);
    } else if (!rebalance_child(s, parent, i)) {
      return;
    }
    x = parent;
  }
}

// REQUIRES: child i of parent is empty (a leaf with no element, or an
// inner node whose only child went). Frees it and drops it and the
// separator beside it from parent; true when it was parent's only child.
bool bt_tree::drop_child(const bt_shape& s, bt_inner* parent, uint32_t i) noexcept {
  bt_node* x = kids(parent, s)[i];
  if (x->leaf) unlink_leaf(static_cast<bt_leaf*>(x));
  drop_node(x);
  if (parent->n == 0) return true;
  const uint32_t drop = i > 0 ? i - 1 : 0;  // the separator that goes with child i
  drop_sep(s, sep_at(parent, s, drop));
  move_seps(s, parent, drop, parent, drop + 1, parent->n - drop - 1);
  move_kids(s, parent, i, parent, i + 1, parent->n - i);
  --parent->n;
  return false;
}

// REQUIRES: child i of parent is below half full but not empty, parent has
// another child. Merges it with a neighbour (the left one when there is
// one) when both fit in one node and returns true (parent lost a child);
// otherwise moves elements or children over so that both end at least
// half full, and returns false.
bool bt_tree::rebalance_child(const bt_shape& s, bt_inner* parent, uint32_t i) noexcept {
  const bool from_left = i > 0;
  const uint32_t li = from_left ? i - 1 : i;  // the pair is (li, li + 1)
  bt_node* a = kids(parent, s)[li];
  bt_node* b = kids(parent, s)[li + 1];
  uint64_t* c = bt_counts(parent) + li;
  if (a->leaf) {
    auto* la = static_cast<bt_leaf*>(a);
    auto* lb = static_cast<bt_leaf*>(b);
    if (merge_leaves(s, parent, li, la, lb)) return true;
    borrow_leaf(s, c, sep_at(parent, s, li), la, lb, from_left);
    return false;
  }
  auto* ia = static_cast<bt_inner*>(a);
  auto* ib = static_cast<bt_inner*>(b);
  if (merge_inners(s, parent, li, ia, ib)) return true;
  rotate_inner(s, c, sep_at(parent, s, li), ia, ib, from_left);
  return false;
}

// REQUIRES: every node but the root is at rest. An empty leaf root goes;
// an inner root with one child gives way to it.
void bt_tree::shrink_root(const bt_shape& s) noexcept {
  if (root_ && root_->leaf && root_->n == 0) {
    drop_node(root_);
    root_ = nullptr;
  }
  while (root_ && !root_->leaf && root_->n == 0) {
    auto* top = static_cast<bt_inner*>(root_);
    root_ = kids(top, s)[0];
    drop_node(top);
    --height_;
  }
  if (!root_) {
    head_ = tail_ = nullptr;
    height_ = 0;
  }
}

void bt_tree::unlink_leaf(bt_leaf* l) noexcept {
  if (l->prev) l->prev->next = l->next;
  else head_ = l->next;
  if (l->next) l->next->prev = l->prev;
  else tail_ = l->prev;
}

bool bt_tree::merge_leaves(const bt_shape& s, bt_inner* parent, uint32_t li, bt_leaf* a, bt_leaf* b) noexcept {
  const uint32_t total = a->n + b->n;
  if (total > s.leaf_cap) return false;
  move_elems(s, a, a->n, b, 0, b->n);
  a->n = static_cast<uint16_t>(total);
  unlink_leaf(b);
  drop_node(b);
  drop_sep(s, sep_at(parent, s, li));
  drop_right_of(s, parent, li);
  return true;
}

bool bt_tree::merge_inners(const bt_shape& s, bt_inner* parent, uint32_t li, bt_inner* a, bt_inner* b) noexcept {
  const uint32_t kids_total = a->n + b->n + 2u;
  if (kids_total > s.inner_cap + 1) return false;
  // The parent's separator comes down between the two.
  std::memcpy(sep_at(a, s, a->n), sep_at(parent, s, li), s.key_size);
  move_seps(s, a, a->n + 1, b, 0, b->n);
  move_kids(s, a, a->n + 1, b, 0, b->n + 1u);
  a->n = static_cast<uint16_t>(kids_total - 1);
  drop_node(b);
  drop_right_of(s, parent, li);
  return true;
}

// Child li + 1 of x has been merged into child li: its count joins li's,
// and it leaves with separator li (already destroyed or moved down).
void bt_tree::drop_right_of(const bt_shape& s, bt_inner* x, uint32_t li) noexcept {
  uint64_t* c = bt_counts(x);
  c[li] += c[li + 1];
  move_seps(s, x, li, x, li + 1, x->n - li - 1);
  move_kids(s, x, li + 1, x, li + 2, x->n - li - 1);
  --x->n;
}

// Moves elements between neighbour leaves a and b so that the one below
// half (b when from_left, else a) ends with half of both; sep is the
// separator between them and c their two counts in the parent.
void bt_tree::borrow_leaf(const bt_shape& s, uint64_t* c, char* sep, bt_leaf* a, bt_leaf* b, bool from_left) noexcept {
  const uint32_t want = (a->n + b->n) / 2;
  alignas(16) unsigned char fresh[bt_max_elem];
  const uint32_t k = from_left ? want - b->n : want - a->n;
  try {
    // The new separator: the first key that will be in b.
    s.copy_key(fresh, from_left ? key_at(a, s, a->n - k) : key_at(b, s, k));
  } catch (...) {
    return;  // no memory for it: b stays below half, which is still a tree
  }
  if (from_left) {
    move_elems(s, b, k, b, 0, b->n);
    move_elems(s, b, 0, a, a->n - k, k);
    a->n = static_cast<uint16_t>(a->n - k);
    b->n = static_cast<uint16_t>(b->n + k);
    c[0] -= k;
    c[1] += k;
  } else {
    move_elems(s, a, a->n, b, 0, k);
    move_elems(s, b, 0, b, k, b->n - k);
    a->n = static_cast<uint16_t>(a->n + k);
    b->n = static_cast<uint16_t>(b->n - k);
    c[0] += k;
    c[1] -= k;
  }
  drop_sep(s, sep);
  std::memcpy(sep, fresh, s.key_size);
  if (note_) note_born(s, note_, fresh);
}

// As borrow_leaf for inner nodes: children rotate through the parent's
// separator, and nothing is copied.
void bt_tree::rotate_inner(const bt_shape& s, uint64_t* c, char* sep, bt_inner* a, bt_inner* b, bool from_left) noexcept {
  const uint32_t want = (a->n + b->n + 2u) / 2;  // children of the one below half
  uint64_t moved = 0;
  if (from_left) {
    const uint32_t k = want - (b->n + 1u);  // children from a's end to b's front
    move_seps(s, b, k, b, 0, b->n);
    move_kids(s, b, k, b, 0, b->n + 1u);
    std::memcpy(sep_at(b, s, k - 1), sep, s.key_size);
    move_seps(s, b, 0, a, a->n - k + 1, k - 1);
    move_kids(s, b, 0, a, a->n + 1 - k, k);
    std::memcpy(sep, sep_at(a, s, a->n - k), s.key_size);
    for (uint32_t j = 0; j < k; ++j) moved += bt_counts(b)[j];
    a->n = static_cast<uint16_t>(a->n - k);
    b->n = static_cast<uint16_t>(b->n + k);
    c[0] -= moved;
    c[1] += moved;
  } else {
    const uint32_t k = want - (a->n + 1u);  // children from b's front to a's end
    std::memcpy(sep_at(a, s, a->n), sep, s.key_size);
    move_seps(s, a, a->n + 1, b, 0, k - 1);
    move_kids(s, a, a->n + 1, b, 0, k);
    std::memcpy(sep, sep_at(b, s, k - 1), s.key_size);
    move_seps(s, b, 0, b, k, b->n - k);
    move_kids(s, b, 0, b, k, b->n + 1 - k);
    for (uint32_t j = 0; j < k; ++j) moved += bt_counts(a)[a->n + 1 + j];
    a->n = static_cast<uint16_t>(a->n + k);
    b->n = static_cast<uint16_t>(b->n - k);
    c[0] += moved;
    c[1] -= moved;
  }
}

namespace {

void clear_node(const bt_shape& s, bt_node* x) noexcept {
  if (x->leaf) {
    auto* l = static_cast<bt_leaf*>(x);
    if (s.destroy_keys) s.destroy_keys(bt_keys(l), l->n);
    if (s.destroy_vals) s.destroy_vals(bt_vals(l, s), l->n);
  } else {
    auto* in = static_cast<bt_inner*>(x);
    for (uint32_t j = 0; j <= in->n; ++j) clear_node(s, kids(in, s)[j]);
    if (s.destroy_keys) s.destroy_keys(sep_at(in, s, 0), in->n);
  }
  free_node(x);
}

}  // namespace

void bt_tree::clear(const bt_shape& s) noexcept {
  if (root_) clear_node(s, root_);
  root_ = nullptr;
  head_ = tail_ = nullptr;
  size_ = 0;
  height_ = 0;
}

void bt_tree::seek_rank(const bt_shape& s, uint64_t r, bt_path* p) const noexcept {
  p->depth = 0;
  p->rank = r;
  if (r >= size_) {
    seek_end(s, p);
    return;
  }
  bt_node* x = root_;
  while (!x->leaf) {
    auto* in = static_cast<bt_inner*>(x);
    const uint64_t* c = bt_counts(in);
    uint32_t j = 0;
    while (r >= c[j]) r -= c[j++];
    p->node[p->depth] = in;
    p->idx[p->depth] = static_cast<uint16_t>(j);
    ++p->depth;
    x = kids(in, s)[j];
  }
  p->leaf = static_cast<bt_leaf*>(x);
  p->pos = static_cast<uint32_t>(r);
}

void bt_tree::seek_end(const bt_shape& s, bt_path* p) const noexcept {
  p->depth = 0;
  p->rank = size_;
  bt_node* x = root_;
  if (!x) {
    p->leaf = nullptr;
    p->pos = 0;
    return;
  }
  while (!x->leaf) {
    auto* in = static_cast<bt_inner*>(x);
    p->node[p->depth] = in;
    p->idx[p->depth] = in->n;
    ++p->depth;
    x = kids(in, s)[in->n];
  }
  p->leaf = static_cast<bt_leaf*>(x);
  p->pos = x->n;
}

namespace {

struct checker {
  const bt_shape& s;
  int (*cmp)(const void*, const void*);
  bool multi;
  int height;
  bt_leaf* expect_leaf;  // the next leaf the chain must reach
  const void* last_key = nullptr;  // the last key met in order
  bool ok = true;

  // Checks the subtree at x, at depth d; left / right: x lies on the
  // leftmost / rightmost path. lo, hi: the separators around it (null at
  // the ends). Returns its element count.
  uint64_t walk(bt_node* x, int d, bool left, bool right, const void* lo, const void* hi) {
    if (!ok) return 0;
    const bool root = d == 0, edge = left || right;
    if (x->leaf) {
      auto* l = static_cast<bt_leaf*>(x);
      if (d != height || l != expect_leaf || l->n > s.leaf_cap) return fail();
      if (!root && (l->n == 0 || (!edge && l->n < leaf_min(s)))) return fail();
      for (uint32_t i = 0; i < l->n; ++i) {
        const void* k = key_at(l, s, i);
        if (last_key && cmp(last_key, k) >= (multi ? 1 : 0)) return fail();
        if ((lo && cmp(lo, k) > 0) || (hi && cmp(k, hi) > 0)) return fail();
        last_key = k;
      }
      if (l->next && l->next->prev != l) return fail();
      expect_leaf = l->next;
      return l->n;
    }
    auto* in = static_cast<bt_inner*>(x);
    const uint32_t kids_n = in->n + 1u;
    if (d >= height || in->n > s.inner_cap) return fail();
    if (root ? kids_n < 2 : (!edge && kids_n < inner_min_kids(s))) return fail();
    uint64_t total = 0;
    for (uint32_t j = 0; j < kids_n; ++j) {
      const void* klo = j == 0 ? lo : sep_at(in, s, j - 1);
      const void* khi = j == in->n ? hi : sep_at(in, s, j);
      const uint64_t c = walk(kids(in, s)[j], d + 1, left && j == 0, right && j == in->n, klo, khi);
      if (!ok || c != bt_counts(in)[j]) return fail();
      total += c;
    }
    return total;
  }
  uint64_t fail() {
    ok = false;
    return 0;
  }
};

}  // namespace

bool bt_tree::verify(const bt_shape& s, int (*cmp)(const void*, const void*), bool multi) const noexcept {
  if (!root_) return size_ == 0 && !head_ && !tail_ && height_ == 0;
  if (head_->prev || tail_->next) return false;
  checker c{s, cmp, multi, height_, head_};
  const uint64_t n = c.walk(root_, 0, true, true, nullptr, nullptr);
  return c.ok && c.expect_leaf == nullptr && n == size_ && height_ < bt_max_height;
}

// ---- Taking changes back ----

// Links r, complete, as the newest record.
void bt_tree::push(undo_rec* r) noexcept {
  r->prev = undo_top_;
  undo_top_ = r;
}

// A separator or node that an erase drops: destroyed or freed, or kept in
// the record of the reshaping erase being recorded.
void bt_tree::drop_sep(const bt_shape& s, void* sep) noexcept {
  if (note_) note_key(s, note_, sep);
  else destroy_key(s, sep);
}
void bt_tree::drop_node(bt_node* x) noexcept {
  if (note_) note_node(note_, x);
  else free_node(x);
}

// Allocates the record of a change that will reshape nodes, with room for
// node_cap nodes and key_cap keys, and keeps in it the tree's header and
// the images of the n nodes at touch. May throw std::bad_alloc; *rec is
// then untouched.
bt_tree::reshape_rec* bt_tree::start_reshape(uint8_t kind, bt_node* const* touch, int n, uint32_t node_cap,
                                             uint32_t key_cap, undo_rec** rec) {
  uint64_t bytes = reshape_bytes + uint64_t{node_cap} * sizeof(bt_node*) + uint64_t{key_cap} * key_slot;
  for (int i = 0; i < n; ++i) bytes += sizeof(bt_node*) + node_size(touch[i]);
  undo_rec* r = new_rec(kind, bytes);
  auto* x = ::new (body(r)) reshape_rec{root_, head_, tail_, size_, height_, static_cast<uint32_t>(n), 0,
                                        static_cast<uint16_t>(node_cap), 0, static_cast<uint16_t>(key_cap),
                                        false, false, {}, {}};
  unsigned char* at = images_of(x);
  for (int i = 0; i < n; ++i) {
    std::memcpy(at, &touch[i], sizeof(bt_node*));
    std::memcpy(at + sizeof(bt_node*), touch[i], node_size(touch[i]));
    at += sizeof(bt_node*) + node_size(touch[i]);
  }
  *rec = r;
  return x;
}

// insert while recording. An element put in a leaf with room keeps its
// rank; one that plants the root or splits keeps the images of the leaf
// and the nodes above it, and what the split makes.
void bt_tree::insert_recorded(const bt_shape& s, bt_path& p, const void* key, const void* val) {
  if (root_ && p.leaf->n < s.leaf_cap) {
    undo_rec* r = new_rec(undo_rec::put, 0);
    r->rank = path_rank(p);
    insert_in_leaf(s, p, key, val);
    push(r);
    return;
  }
  bt_node* touch[bt_max_height + 1];
  int n = 0;
  if (root_) {
    touch[n++] = p.leaf;
    for (int d = 0; d < p.depth; ++d) touch[n++] = p.node[d];
  }
  undo_rec* r;
  reshape_rec* x = start_reshape(undo_rec::put_reshaped, touch, n, p.depth + 2, 2, &r);
  note_key(s, x, key);
  note_val(s, x, val);
  try {
    if (root_) {
      split_insert(s, p, key, val, x);
    } else {
      plant_root(s, key, val);
      note_node(x, root_);
    }
  } catch (...) {
    ::operator delete(r);  // it owns nothing yet
    throw;
  }
  push(r);
}

// erase while recording. An element whose leaf needs no rebalancing after
// it goes (the common case) moves into the record with its rank;
// otherwise reshape_erase.
void bt_tree::erase_recorded(const bt_shape& s, bt_path& p) {
  bool on_edge[bt_max_height + 1];
  mark_edges(p, on_edge);
  const uint32_t left = p.leaf->n - 1u;
  if (p.depth == 0 ? left == 0 : !at_rest(s, true, left, on_edge[p.depth])) {
    reshape_erase(s, p, on_edge);
    return;
  }
  undo_rec* r = new_rec(undo_rec::take, take_val_at(s) + s.val_size);
  r->rank = path_rank(p);
  r->at_end = p.pos == left;
  std::memcpy(body(r), key_at(p.leaf, s, p.pos), s.key_size);
  if (s.val_size) std::memcpy(body(r) + take_val_at(s), val_at(p.leaf, s, p.pos), s.val_size);
  close_gap(s, p);
  push(r);
}

// REQUIRES: the element at p leaves its leaf below half full or empty.
// Keeps the images of every node the rebalancing may touch: the leaf, the
// nodes above it, and the neighbour it would merge with or borrow from at
// each level the walk up may reach (it goes on while a node that lost a
// child would be below half full). Then erases, keeping the element and
// the nodes and separators the rebalancing drops.
void bt_tree::reshape_erase(const bt_shape& s, bt_path& p, const bool* on_edge) {
  bt_node* touch[2 * bt_max_height + 1];
  int n = 0;
  touch[n++] = p.leaf;
  for (int d = 0; d < p.depth; ++d) touch[n++] = p.node[d];
  uint32_t fill = p.leaf->n - 1u;
  for (int d = p.depth; d > 0; --d) {
    if (at_rest(s, d == p.depth, fill, on_edge[d])) break;
    bt_inner* parent = p.node[d - 1];
    const uint32_t i = p.idx[d - 1];
    if (parent->n > 0) touch[n++] = kids(parent, s)[i > 0 ? i - 1 : i + 1];
    fill = parent->n;  // its children once it has lost one
  }
  undo_rec* r;
  reshape_rec* x = start_reshape(undo_rec::take_reshaped, touch, n, 2 * p.depth + 2, p.depth + 2, &r);
  note_key(s, x, key_at(p.leaf, s, p.pos));
  if (s.val_size) note_val(s, x, val_at(p.leaf, s, p.pos));
  note_ = x;
  close_gap(s, p);
  rebalance(s, p);
  shrink_root(s);
  note_ = nullptr;
  push(r);
}

// Recording, the whole tree moves into the record (an empty one needs no
// record).
void bt_tree::remove_all(const bt_shape& s) {
  if (!recording_) {
    clear(s);
    return;
  }
  if (!root_) return;
  undo_rec* r = new_rec(undo_rec::all, sizeof(reshape_rec));
  ::new (body(r)) reshape_rec{root_, head_, tail_, size_, height_, 0, 0, 0, 0, 0, false, false, {}, {}};
  root_ = head_ = tail_ = nullptr;
  size_ = 0;
  height_ = 0;
  push(r);
}

// Puts the m values at from in place of the values of the m elements from
// rank r on; the values there go to keep, or are destroyed when keep is
// null.
void bt_tree::put_values(const bt_shape& s, uint64_t r, uint64_t m, const char* from, char* keep) noexcept {
  bt_path p;
  seek_rank(s, r, &p);
  bt_leaf* l = p.leaf;
  uint32_t i = p.pos;
  for (uint64_t k = 0; k < m; ++k, ++i) {
    if (i == l->n) {
      l = l->next;
      i = 0;
    }
    char* v = val_at(l, s, i);
    if (keep) std::memcpy(keep + k * s.val_size, v, s.val_size);
    else if (s.destroy_vals) s.destroy_vals(v, 1);
    std::memcpy(v, from + k * s.val_size, s.val_size);
  }
}

void bt_tree::replace_values(const bt_shape& s, uint64_t r, uint64_t m, const void* vals) {
  if (!recording_) {
    put_values(s, r, m, static_cast<const char*>(vals), nullptr);
    return;
  }
  undo_rec* rec = new_rec(undo_rec::values, m * s.val_size);
  rec->rank = r;
  rec->count = m;
  put_values(s, r, m, static_cast<const char*>(vals), reinterpret_cast<char*>(body(rec)));
  push(rec);
}

// Takes back the change r recorded, on the tree exactly as that change
// left it (every later change is taken back already).
void bt_tree::take_back(const bt_shape& s, undo_rec* r) noexcept {
  bt_path p;
  switch (r->kind) {
    case undo_rec::put:
      seek_rank(s, r->rank, &p);
      remove_from_leaf(s, p);
      return;
    case undo_rec::take:
      // To the leaf the element left: past its last element when it was
      // the last (rank r then names the next leaf's first).
      seek_rank(s, r->at_end ? r->rank - 1 : r->rank, &p);
      p.pos += r->at_end ? 1 : 0;
      insert_in_leaf(s, p, body(r), body(r) + take_val_at(s));
      return;
    case undo_rec::values:
      put_values(s, r->rank, r->count, reinterpret_cast<const char*>(body(r)), nullptr);
      return;
    case undo_rec::all: {
      const reshape_rec* x = reshape_of(r);
      clear(s);  // empty already: every later change is taken back
      root_ = x->root;
      head_ = x->head;
      tail_ = x->tail;
      size_ = x->size;
      height_ = x->height;
      return;
    }
    default:
      take_back_reshape(s, r);
  }
}

// Puts back the images and the header, links the leaves beside each
// leaf put back to it again, and frees or destroys what the change made.
void bt_tree::take_back_reshape(const bt_shape& s, undo_rec* r) noexcept {
  reshape_rec* x = reshape_of(r);
  unsigned char* at = images_of(x);
  for (uint32_t i = 0; i < x->images; ++i) {
    bt_node* n;
    std::memcpy(&n, at, sizeof n);
    std::memcpy(static_cast<void*>(n), at + sizeof n, node_size(n));
    at += sizeof n + node_size(n);
  }
  root_ = x->root;
  head_ = x->head;
  tail_ = x->tail;
  size_ = x->size;
  height_ = x->height;
  at = images_of(x);
  for (uint32_t i = 0; i < x->images; ++i) {
    bt_node* n;
    std::memcpy(&n, at, sizeof n);
    at += sizeof n + node_size(n);
    if (!n->leaf) continue;
    auto* l = static_cast<bt_leaf*>(n);
    if (l->prev) l->prev->next = l;
    if (l->next) l->next->prev = l;
  }
  if (r->kind == undo_rec::take_reshaped) {
    if (x->born) destroy_key_bytes(s, x->born_bytes);
    return;
  }
  for (uint32_t i = 0; i < x->nodes; ++i) free_node(nodes_of(x)[i]);
  for (uint32_t i = 0; i < x->keys; ++i) destroy_key_bytes(s, key_of(x, i));
  if (x->val) destroy_val_bytes(s, x->val_bytes);
}

// Keeps the change r recorded: destroys and frees what it removed.
void bt_tree::keep_change(const bt_shape& s, undo_rec* r) noexcept {
  switch (r->kind) {
    case undo_rec::take:
      destroy_key_bytes(s, body(r));
      if (s.val_size) destroy_val_bytes(s, body(r) + take_val_at(s));
      return;
    case undo_rec::values:
      if (s.destroy_vals) s.destroy_vals(body(r), r->count);
      return;
    case undo_rec::all:
      clear_node(s, reshape_of(r)->root);
      return;
    case undo_rec::take_reshaped: {
      reshape_rec* x = reshape_of(r);
      for (uint32_t i = 0; i < x->keys; ++i) destroy_key_bytes(s, key_of(x, i));
      if (x->val) destroy_val_bytes(s, x->val_bytes);
      for (uint32_t i = 0; i < x->nodes; ++i) free_node(nodes_of(x)[i]);
      return;
    }
    default:
      return;  // put, put_reshaped: nothing was removed
  }
}

void bt_tree::rollback_to(const bt_shape& s, undo_rec* mark) noexcept {
  while (undo_top_ != mark) {
    undo_rec* r = undo_top_;
    undo_top_ = r->prev;
    take_back(s, r);
    ::operator delete(r);
  }
}

void bt_tree::rollback(const bt_shape& s) noexcept {
  rollback_to(s, nullptr);
  recording_ = false;
}

void bt_tree::end_undo(const bt_shape& s) noexcept {
  while (undo_top_) {
    undo_rec* r = undo_top_;
    undo_top_ = r->prev;
    keep_change(s, r);
    ::operator delete(r);
  }
  recording_ = false;
}

}  // namespace nosql_db
