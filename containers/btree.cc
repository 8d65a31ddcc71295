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

// Nodes a split needs, allocated up front; the ones not used go back.
struct node_reserve {
  bt_leaf* leaf = nullptr;
  bt_inner* inner[bt_max_height + 1] = {};
  int inners = 0;
  int used = 0;
  ~node_reserve() {
    free_node(leaf);
    for (int i = used; i < inners; ++i) free_node(inner[i]);
  }
  bt_inner* take() noexcept { return inner[used++]; }
};

}  // namespace

void bt_tree::insert(const bt_shape& s, bt_path& p, const void* key, const void* val) {
  if (!root_) {
    bt_leaf* l = new_leaf();
    std::memcpy(key_at(l, s, 0), key, s.key_size);
    if (s.val_size) std::memcpy(val_at(l, s, 0), val, s.val_size);
    l->n = 1;
    root_ = head_ = tail_ = l;
    size_ = 1;
    height_ = 0;
    return;
  }
  bt_leaf* leaf = p.leaf;
  const uint32_t pos = p.pos;
  if (leaf->n < s.leaf_cap) {
    move_elems(s, leaf, pos + 1, leaf, pos, leaf->n - pos);
    std::memcpy(key_at(leaf, s, pos), key, s.key_size);
    if (s.val_size) std::memcpy(val_at(leaf, s, pos), val, s.val_size);
    ++leaf->n;
    for (int d = 0; d < p.depth; ++d) ++bt_counts(p.node[d])[p.idx[d]];
    ++size_;
    return;
  }

  // The leaf splits, and so does every full inner node above it.
  int full = 0;
  for (int d = p.depth - 1; d >= 0 && p.node[d]->n == s.inner_cap; --d) ++full;
  const bool grows = full == p.depth;
  if (grows && height_ + 1 >= bt_max_height) throw std::bad_alloc();
  // Which levels lie on the leftmost / rightmost path (before any change).
  bool on_left[bt_max_height + 1], on_right[bt_max_height + 1];
  on_left[0] = on_right[0] = true;
  for (int d = 0; d < p.depth; ++d) {
    on_left[d + 1] = on_left[d] && p.idx[d] == 0;
    on_right[d + 1] = on_right[d] && p.idx[d] == p.node[d]->n;
  }

  node_reserve r;
  r.leaf = new_leaf();
  for (int i = 0; i < full + (grows ? 1 : 0); ++i) r.inner[r.inners++] = new_inner();

  // Split point: elements that stay left of the cap + 1. Appending at the
  // right end (or prepending at the left end) leaves the old leaf full.
  const uint32_t cap = s.leaf_cap;
  const bool append = pos == cap && !leaf->next, prepend = pos == 0 && !leaf->prev;
  const uint32_t keep = append ? cap : prepend ? 1 : (cap + 1) / 2;
  // The separator is a copy of the first key on the right.
  alignas(16) unsigned char sep[bt_max_elem];
  const void* first_right = keep == pos ? key : key_at(leaf, s, keep < pos ? keep : keep - 1);
  s.copy_key(sep, first_right);  // may throw: the reserve frees its nodes
  // ---- nothing fails from here on ----

  for (int d = 0; d < p.depth; ++d) ++bt_counts(p.node[d])[p.idx[d]];
  ++size_;

  // The cap + 1 elements in order, then split between leaf and right.
  bt_leaf* right = r.leaf;
  r.leaf = nullptr;
  {
    alignas(16) char buf[scratch_bytes];
    const uint32_t ks = s.key_size, vs = s.val_size;
    char* ak = buf;
    char* av = ak + uint64_t{cap + 1} * ks;
    std::memcpy(ak, key_at(leaf, s, 0), uint64_t{pos} * ks);
    std::memcpy(ak + uint64_t{pos} * ks, key, ks);
    std::memcpy(ak + uint64_t{pos + 1} * ks, key_at(leaf, s, pos), uint64_t{cap - pos} * ks);
    if (vs) {
      std::memcpy(av, val_at(leaf, s, 0), uint64_t{pos} * vs);
      std::memcpy(av + uint64_t{pos} * vs, val, vs);
      std::memcpy(av + uint64_t{pos + 1} * vs, val_at(leaf, s, pos), uint64_t{cap - pos} * vs);
    }
    std::memcpy(key_at(leaf, s, 0), ak, uint64_t{keep} * ks);
    std::memcpy(key_at(right, s, 0), ak + uint64_t{keep} * ks, uint64_t{cap + 1 - keep} * ks);
    if (vs) {
      std::memcpy(val_at(leaf, s, 0), av, uint64_t{keep} * vs);
      std::memcpy(val_at(right, s, 0), av + uint64_t{keep} * vs, uint64_t{cap + 1 - keep} * vs);
    }
  }
  leaf->n = static_cast<uint16_t>(keep);
  right->n = static_cast<uint16_t>(cap + 1 - keep);
  right->prev = leaf;
  right->next = leaf->next;
  if (leaf->next) leaf->next->prev = right;
  else tail_ = right;
  leaf->next = right;

  // Hang (sep, right) after the left node at each level, splitting full
  // inner nodes on the way up.
  bt_node* left_node = leaf;
  bt_node* right_node = right;
  uint64_t left_count = keep, right_count = cap + 1 - keep;
  for (int d = p.depth - 1; d >= 0; --d) {
    bt_inner* x = p.node[d];
    const uint32_t i = p.idx[d];  // left_node is child i
    if (x->n < s.inner_cap) {
      move_seps(s, x, i + 1, x, i, x->n - i);
      move_kids(s, x, i + 2, x, i + 1, x->n - i);
      std::memcpy(sep_at(x, s, i), sep, s.key_size);
      kids(x, s)[i + 1] = right_node;
      bt_counts(x)[i] = left_count;
      bt_counts(x)[i + 1] = right_count;
      ++x->n;
      return;
    }
    // x is full: lay out its inner_cap + 1 separators and inner_cap + 2
    // children in order, then share them between x and a new node y; the
    // separator between the two goes up.
    const uint32_t icap = s.inner_cap, ks = s.key_size;
    alignas(16) char sbuf[scratch_bytes];
    bt_node* kbuf[bt_inner_bytes / 8 + 2];
    uint64_t cbuf[bt_inner_bytes / 8 + 2];
    std::memcpy(sbuf, sep_at(x, s, 0), uint64_t{i} * ks);
    std::memcpy(sbuf + uint64_t{i} * ks, sep, ks);
    std::memcpy(sbuf + uint64_t{i + 1} * ks, sep_at(x, s, i), uint64_t{icap - i} * ks);
    for (uint32_t j = 0, k = 0; j <= icap + 1; ++j) {
      if (j == i) {
        kbuf[j] = left_node;
        cbuf[j] = left_count;
        ++k;
      } else if (j == i + 1) {
        kbuf[j] = right_node;
        cbuf[j] = right_count;
      } else {
        kbuf[j] = kids(x, s)[k];
        cbuf[j] = bt_counts(x)[k];
        ++k;
      }
    }
    // Separators kept left; the one at index `keep_seps` goes up.
    uint32_t keep_seps;
    if (append && on_right[d] && i == icap) keep_seps = icap;
    else if (prepend && on_left[d] && i == 0) keep_seps = 0;
    else keep_seps = icap / 2;
    bt_inner* y = r.take();
    std::memcpy(sep_at(x, s, 0), sbuf, uint64_t{keep_seps} * ks);
    std::memcpy(kids(x, s), kbuf, uint64_t{keep_seps + 1} * sizeof(bt_node*));
    std::memcpy(bt_counts(x), cbuf, uint64_t{keep_seps + 1} * sizeof(uint64_t));
    x->n = static_cast<uint16_t>(keep_seps);
    const uint32_t right_seps = icap - keep_seps;
    std::memcpy(sep_at(y, s, 0), sbuf + uint64_t{keep_seps + 1} * ks, uint64_t{right_seps} * ks);
    std::memcpy(kids(y, s), kbuf + keep_seps + 1, uint64_t{right_seps + 1} * sizeof(bt_node*));
    std::memcpy(bt_counts(y), cbuf + keep_seps + 1, uint64_t{right_seps + 1} * sizeof(uint64_t));
    y->n = static_cast<uint16_t>(right_seps);
    std::memcpy(sep, sbuf + uint64_t{keep_seps} * ks, ks);
    left_node = x;
    right_node = y;
    left_count = sum_counts(x);
    right_count = sum_counts(y);
  }
  // The root split: a new root above the two halves.
  bt_inner* top = r.take();
  top->n = 1;
  std::memcpy(sep_at(top, s, 0), sep, s.key_size);
  kids(top, s)[0] = left_node;
  kids(top, s)[1] = right_node;
  bt_counts(top)[0] = left_count;
  bt_counts(top)[1] = right_count;
  root_ = top;
  ++height_;
}

void bt_tree::erase(const bt_shape& s, bt_path& p) noexcept {
  bt_leaf* leaf = p.leaf;
  const uint32_t pos = p.pos;
  destroy_key(s, key_at(leaf, s, pos));
  if (s.destroy_vals) s.destroy_vals(val_at(leaf, s, pos), 1);
  move_elems(s, leaf, pos, leaf, pos + 1, leaf->n - pos - 1);
  --leaf->n;
  --size_;
  for (int d = 0; d < p.depth; ++d) --bt_counts(p.node[d])[p.idx[d]];

  bool on_edge[bt_max_height + 1];  // on the leftmost or rightmost path
  {
    bool l = true, r = true;
    on_edge[0] = true;
    for (int d = 0; d < p.depth; ++d) {
      l = l && p.idx[d] == 0;
      r = r && p.idx[d] == p.node[d]->n;
      on_edge[d + 1] = l || r;
    }
  }

  // Walk up from the leaf while a node is empty or below half full.
  // `emptied`: x is an inner node whose only child went. (The root never
  // empties this way: at rest it has two children, or is the leaf.)
  bt_node* x = leaf;
  bool emptied = false;
  int d = p.depth;
  for (; d > 0; --d) {
    bt_inner* parent = p.node[d - 1];
    const uint32_t i = p.idx[d - 1];
    uint64_t* pc = bt_counts(parent);
    const bool is_leaf = x->leaf;
    const uint32_t fill = emptied ? 0 : is_leaf ? x->n : x->n + 1u;  // elements or children
    const uint32_t min = is_leaf ? leaf_min(s) : inner_min_kids(s);
    if (fill >= min || (fill >= 1 && on_edge[d])) break;

    if (fill == 0) {
      if (is_leaf) unlink_leaf(static_cast<bt_leaf*>(x));
      free_node(x);
      x = parent;
      emptied = parent->n == 0;  // it had no other child
      if (emptied) continue;
      const uint32_t drop = i > 0 ? i - 1 : 0;  // the separator that goes with child i
      destroy_key(s, sep_at(parent, s, drop));
      move_seps(s, parent, drop, parent, drop + 1, parent->n - drop - 1);
      move_kids(s, parent, i, parent, i + 1, parent->n - i);
      --parent->n;
      continue;
    }

    // Below half: merge with a sibling when both fit in one node,
    // otherwise take from it so that both end at least half full.
    const bool use_left = i > 0;
    const uint32_t li = use_left ? i - 1 : i;  // the pair is (li, li + 1)
    bt_node* a = kids(parent, s)[li];
    bt_node* b = kids(parent, s)[li + 1];
    if (is_leaf ? merge_leaves(s, parent, li, static_cast<bt_leaf*>(a), static_cast<bt_leaf*>(b))
                : merge_inners(s, parent, li, static_cast<bt_inner*>(a), static_cast<bt_inner*>(b))) {
      x = parent;
      continue;
    }
    if (is_leaf) borrow_leaf(s, pc + li, sep_at(parent, s, li), static_cast<bt_leaf*>(a), static_cast<bt_leaf*>(b), use_left);
    else rotate_inner(s, pc + li, sep_at(parent, s, li), static_cast<bt_inner*>(a), static_cast<bt_inner*>(b), use_left);
    break;
  }

  // The root: an empty leaf goes; an inner root with one child gives way
  // to it.
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
