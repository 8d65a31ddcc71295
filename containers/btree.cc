// The untyped B+tree core: insertion with splits, removal with merges and
// borrowing, descents by rank, clearing and the structural checker.
#include "containers/btree.h"

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
  if (!root_) {
    plant_root(s, key, val);
    return;
  }
  if (p.leaf->n < s.leaf_cap) {
    insert_in_leaf(s, p, key, val);
    return;
  }
  const split_plan plan(s, p);
  if (plan.grows && height_ + 1 >= bt_max_height) throw std::bad_alloc();
  node_reserve r;
  r.allocate(plan.full + (plan.grows ? 1 : 0));
  split_pair up;
  copy_separator(s, p, plan.keep, key, up.sep);  // may throw: r frees its nodes
  // ---- nothing fails from here on ----
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
  bt_leaf* leaf = p.leaf;
  const uint32_t pos = p.pos;
  destroy_key(s, key_at(leaf, s, pos));
  if (s.destroy_vals) s.destroy_vals(val_at(leaf, s, pos), 1);
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
    const uint32_t min = x->leaf ? leaf_min(s) : inner_min_kids(s);
    if (fill >= min || (fill >= 1 && on_edge[d])) return;
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
  free_node(x);
  if (parent->n == 0) return true;
  const uint32_t drop = i > 0 ? i - 1 : 0;  // the separator that goes with child i
  destroy_key(s, sep_at(parent, s, drop));
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
    free_node(root_);
    root_ = nullptr;
  }
  while (root_ && !root_->leaf && root_->n == 0) {
    auto* top = static_cast<bt_inner*>(root_);
    root_ = kids(top, s)[0];
    free_node(top);
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
  free_node(b);
  destroy_key(s, sep_at(parent, s, li));
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
  free_node(b);
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
  destroy_key(s, sep);
  std::memcpy(sep, fresh, s.key_size);
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

}  // namespace nosql_db
