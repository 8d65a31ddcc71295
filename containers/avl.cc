// The untyped AVL core: linking, retrace, rotations, removal by relinking,
// walks, ranks and the checker.
#include "containers/avl.h"

#include <utility>

namespace nosql_db {
namespace {

uint64_t size_of(const avl_node* n) noexcept { return n ? n->subtree_size : 0; }
void resize(avl_node* n) noexcept { n->subtree_size = 1 + size_of(n->left) + size_of(n->right); }

// Makes p's link that named old name repl instead (p null: nothing above).
void replace_child(avl_node* p, avl_node* old, avl_node* repl) noexcept {
  if (!p) return;
  if (p->left == old) p->left = repl;
  else p->right = repl;
}

avl_node* top_of(avl_node* n) noexcept {
  while (n->parent) n = n->parent;
  return n;
}

// L takes N's place, N becomes L's right child, L's right subtree N's left.
avl_node* rotate_right(avl_node* n) noexcept {
  avl_node* l = n->left;
  n->left = l->right;
  if (l->right) l->right->parent = n;
  l->parent = n->parent;
  replace_child(n->parent, n, l);
  l->right = n;
  n->parent = l;
  resize(n);
  resize(l);
  return l;
}

avl_node* rotate_left(avl_node* n) noexcept {
  avl_node* r = n->right;
  n->right = r->left;
  if (r->left) r->left->parent = n;
  r->parent = n->parent;
  replace_child(n->parent, n, r);
  r->left = n;
  n->parent = r;
  resize(n);
  resize(r);
  return r;
}

// Rebalances at n, whose balance is +2 or -2; returns the subtree's new top.
avl_node* rebalance(avl_node* n) noexcept {
  if (n->balance == 2) {
    avl_node* l = n->left;
    if (l->balance == 1) {
      rotate_right(n);
      n->balance = 0;
      l->balance = 0;
      return l;
    }
    if (l->balance == 0) {  // only after a removal: the height stays
      rotate_right(n);
      n->balance = 1;
      l->balance = -1;
      return l;
    }
    avl_node* g = l->right;
    rotate_left(l);
    rotate_right(n);
    l->balance = g->balance == -1 ? 1 : 0;
    n->balance = g->balance == 1 ? -1 : 0;
    g->balance = 0;
    return g;
  }
  avl_node* r = n->right;
  if (r->balance == -1) {
    rotate_left(n);
    n->balance = 0;
    r->balance = 0;
    return r;
  }
  if (r->balance == 0) {
    rotate_left(n);
    n->balance = -1;
    r->balance = 1;
    return r;
  }
  avl_node* g = r->left;
  rotate_right(r);
  rotate_left(n);
  r->balance = g->balance == 1 ? -1 : 0;
  n->balance = g->balance == -1 ? 1 : 0;
  g->balance = 0;
  return g;
}

// Exchanges the tree positions of a and its descendant b, balances and
// subtree sizes included (sizes and balances belong to positions).
void exchange(avl_node* a, avl_node* b) noexcept {
  avl_node* const ap = a->parent;
  avl_node* const al = a->left;
  avl_node* const ar = a->right;
  avl_node* const bl = b->left;
  avl_node* const br = b->right;
  if (b->parent == a) {
    if (al == b) {
      b->left = a;
      b->right = ar;
      if (ar) ar->parent = b;
    } else {
      b->right = a;
      b->left = al;
      if (al) al->parent = b;
    }
    a->parent = b;
  } else {
    avl_node* const bp = b->parent;
    replace_child(bp, b, a);
    a->parent = bp;
    b->left = al;
    b->right = ar;
    if (al) al->parent = b;
    if (ar) ar->parent = b;
  }
  replace_child(ap, a, b);
  b->parent = ap;
  a->left = bl;
  a->right = br;
  if (bl) bl->parent = a;
  if (br) br->parent = a;
  std::swap(a->balance, b->balance);
  std::swap(a->subtree_size, b->subtree_size);
}

}  // namespace

void avl_tree::link(avl_node* parent, bool left, avl_node* n) noexcept {
  n->parent = parent;
  n->left = n->right = nullptr;
  n->subtree_size = 1;
  n->balance = 0;
  if (!parent) {
    root = n;
    return;
  }
  (left ? parent->left : parent->right) = n;
  for (avl_node* a = parent; a; a = a->parent) ++a->subtree_size;

  if (parent->balance != 0) {  // the leaf filled parent's empty side
    parent->balance = 0;
    return;
  }
  avl_node* y = n;
  for (avl_node* a = parent; a; y = a, a = a->parent) {
    const int8_t d = y == a->left ? 1 : -1;
    if (a->balance == 0) {
      a->balance = d;
      continue;
    }
    if (a->balance == -d) {
      a->balance = 0;
      break;
    }
    a->balance = static_cast<int8_t>(2 * d);
    rebalance(a);
    break;
  }
  root = top_of(root);
}

void avl_tree::unlink(avl_node* x) noexcept {
  if (x->left || x->right) {
    avl_node* r;
    if (x->balance >= 0) {
      r = x->left;
      while (r->right) r = r->right;
    } else {
      r = x->right;
      while (r->left) r = r->left;
    }
    exchange(x, r);
    if (avl_node* c = x->left ? x->left : x->right) {
      x->balance = 0;
      exchange(x, c);
    }
  }
  avl_node* q = x->parent;
  x->parent = x->left = x->right = nullptr;
  if (!q) {
    root = nullptr;
    return;
  }
  if (q->left == x) {
    q->left = nullptr;
    --q->balance;
  } else {
    q->right = nullptr;
    ++q->balance;
  }
  if (!q->left && !q->right) q->balance = 0;
  for (avl_node* a = q; a; a = a->parent) --a->subtree_size;

  avl_node* n = q;
  for (;;) {
    if (n->balance == 2 || n->balance == -2) n = rebalance(n);
    if (n->balance != 0) break;  // the subtree kept its height
    avl_node* a = n->parent;
    if (!a) break;
    const bool from_left = a->left == n;
    if (a->balance == 0) {
      a->balance = from_left ? -1 : 1;
      break;
    }
    if ((from_left && a->balance == -1) || (!from_left && a->balance == 1)) {
      a->balance = static_cast<int8_t>(2 * a->balance);
    } else {
      a->balance = 0;
    }
    n = a;
  }
  root = top_of(n);
}

void avl_tree::clear(void (*free_node)(avl_node*)) noexcept {
  avl_node* n = root;
  root = nullptr;
  while (n) {
    if (n->left) {
      n = n->left;
    } else if (n->right) {
      n = n->right;
    } else {
      avl_node* p = n->parent;
      if (p) (p->left == n ? p->left : p->right) = nullptr;
      free_node(n);
      n = p;
    }
  }
}

avl_node* avl_first(avl_node* n) noexcept {
  if (n)
    while (n->left) n = n->left;
  return n;
}

avl_node* avl_last(avl_node* n) noexcept {
  if (n)
    while (n->right) n = n->right;
  return n;
}

avl_node* avl_next(avl_node* n) noexcept {
  if (n->right) return avl_first(n->right);
  avl_node* p = n->parent;
  while (p && p->right == n) {
    n = p;
    p = p->parent;
  }
  return p;
}

avl_node* avl_prev(avl_node* n) noexcept {
  if (n->left) return avl_last(n->left);
  avl_node* p = n->parent;
  while (p && p->left == n) {
    n = p;
    p = p->parent;
  }
  return p;
}

uint64_t avl_rank(const avl_node* n) noexcept {
  uint64_t r = size_of(n->left);
  for (const avl_node* p = n->parent; p; n = p, p = p->parent) {
    if (p->right == n) r += 1 + size_of(p->left);
  }
  return r;
}

avl_node* avl_select(avl_node* n, uint64_t r) noexcept {
  while (n) {
    const uint64_t left = size_of(n->left);
    if (r == left) return n;
    if (r < left) {
      n = n->left;
    } else {
      r -= left + 1;
      n = n->right;
    }
  }
  return nullptr;
}

namespace {

inline void prefetch(const avl_node* n) noexcept {
#if defined(__GNUC__)
  __builtin_prefetch(n);
#else
  (void)n;
#endif
}

// One cursor of avl_collect: either `n` is the next node to hand out
// (ready), or the next node is the leftmost of the subtree at `n`.
struct lane {
  avl_node* n;
  bool ready;
  avl_node** out;
  avl_node** end;
};

// Advances a lane by one link, handing out at most one node. Every node the
// lane will read next has been prefetched a whole round earlier.
inline void step(lane& l) noexcept {
  avl_node* n = l.n;
  if (!l.ready) {
    if (n->left) {
      l.n = n->left;
      prefetch(l.n);
      return;
    }
    l.ready = true;
  }
  *l.out++ = n;
  if (l.out == l.end) return;
  if (n->right) {
    l.n = n->right;
    l.ready = false;
    prefetch(l.n);
    return;
  }
  // Up to the first ancestor reached from its left: nodes on this path were
  // all passed on the way down, so they are still in the cache.
  avl_node* p = n->parent;
  while (p->right == n) {
    n = p;
    p = p->parent;
  }
  l.n = p;
}

}  // namespace

void avl_collect(const avl_tree& t, uint64_t first, uint64_t count, avl_node** out) noexcept {
  constexpr uint64_t lanes = 16;
  if (count == 0) return;
  // Few nodes: one plain walk.
  if (count < lanes * 8) {
    avl_node* n = avl_select(t.root, first);
    for (uint64_t i = 0; i < count; ++i, n = avl_next(n)) out[i] = n;
    return;
  }
  // Sixteen cursors over consecutive runs of ranks, advanced in turn: each
  // cursor's walk is a chain of dependent loads, but the chains of
  // different cursors are independent, so their cache misses overlap.
  lane ls[lanes];
  const uint64_t per = count / lanes;
  for (uint64_t i = 0; i < lanes; ++i) {
    const uint64_t b = i * per, e = i + 1 == lanes ? count : b + per;
    ls[i] = lane{avl_select(t.root, first + b), true, out + b, out + e};
  }
  for (bool busy = true; busy;) {
    busy = false;
    for (lane& l : ls) {
      if (l.out == l.end) continue;
      step(l);
      busy = true;
    }
  }
}

namespace {

// Height of the subtree at n, or -1 when an invariant fails below n.
int check(const avl_node* n) noexcept {
  if (!n) return 0;
  if (n->left && n->left->parent != n) return -1;
  if (n->right && n->right->parent != n) return -1;
  const int hl = check(n->left);
  const int hr = check(n->right);
  if (hl < 0 || hr < 0) return -1;
  if (n->balance != hl - hr || n->balance < -1 || n->balance > 1) return -1;
  if (n->subtree_size != 1 + size_of(n->left) + size_of(n->right)) return -1;
  return 1 + (hl > hr ? hl : hr);
}

}  // namespace

int avl_height(const avl_node* n) noexcept {
  if (!n) return 0;
  const int hl = avl_height(n->left), hr = avl_height(n->right);
  return 1 + (hl > hr ? hl : hr);
}

bool avl_verify(const avl_tree& t, bool (*in_order)(const avl_node*, const avl_node*, const void*),
                const void* ctx) noexcept {
  if (!t.root) return true;
  if (t.root->parent) return false;
  if (check(t.root) < 0) return false;
  uint64_t count = 0;
  avl_node* prev = nullptr;
  for (avl_node* n = avl_first(t.root); n; n = avl_next(n)) {
    if (prev && !in_order(prev, n, ctx)) return false;
    if (avl_rank(n) != count) return false;
    prev = n;
    ++count;
  }
  return count == t.root->subtree_size;
}

}  // namespace nosql_db
