// The trie: child blocks, insertion, lookups, listing and freeing.
#include "containers/trie/trie.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace nosql_db {
namespace {

// Index of the first child of p whose label is >= b.
uint32_t lower_child(const trie_node& p, uint8_t b) noexcept {
  uint32_t lo = 0, hi = p.n;
  while (lo < hi) {
    const uint32_t mid = (lo + hi) / 2;
    if (p.kids[mid].label < b) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

const trie_node* find_child(const trie_node& p, uint8_t b) noexcept {
  const uint32_t i = lower_child(p, b);
  return i < p.n && p.kids[i].label == b ? &p.kids[i] : nullptr;
}

trie_node* alloc_block(uint32_t cap) {
  void* m = std::malloc(cap * sizeof(trie_node));
  if (!m) throw std::bad_alloc();
  return static_cast<trie_node*>(m);
}

// The string a tail node spells below itself. REQUIRES t.tail.
std::string_view tail_of(const trie_node& t) noexcept {
  uint64_t len;
  std::memcpy(&len, t.kids, 8);
  return {reinterpret_cast<const char*>(t.kids) + 8, static_cast<size_t>(len)};
}

// A tail buffer holding s (not empty).
trie_node* alloc_tail(std::string_view s) {
  char* m = static_cast<char*>(std::malloc(8 + s.size()));
  if (!m) throw std::bad_alloc();
  const uint64_t len = s.size();
  std::memcpy(m, &len, 8);
  std::memcpy(m + 8, s.data(), s.size());
  return reinterpret_cast<trie_node*>(m);
}

// Frees every block below top, depth first, without a stack: on the way
// down, the entry whose block is entered keeps the way back (its kids field
// points to the entry above it, its n holds its own index in its block);
// blocks are visited from their last entry to their first.
void free_below(trie_node& top) noexcept {
  if (top.tail) {
    std::free(top.kids);
    top.kids = nullptr;
    top.tail = false;
    return;
  }
  trie_node* block = top.kids;
  uint32_t left = top.n;  // entries [0, left) of block still to free
  trie_node* back = nullptr;
  top.kids = nullptr;
  top.n = top.cap = 0;
  if (!block) return;
  for (;;) {
    if (left == 0) {
      std::free(block);
      if (!back) return;
      trie_node* e = back;  // done with e's subtree; e is block[e->n]
      left = e->n;
      block = e - left;
      back = e->kids;
      continue;
    }
    trie_node* e = &block[left - 1];
    if (e->tail) std::free(e->kids);
    if (e->tail || !e->kids) {
      --left;
      continue;
    }
    trie_node* down = e->kids;
    const uint32_t down_n = e->n;
    e->kids = back;
    e->n = static_cast<uint16_t>(left - 1);
    back = e;
    block = down;
    left = down_n;
  }
}

// Spells the first u bytes of t's tail (1 <= u <= its length) as a chain of
// nodes below t; the last keeps the rest as its tail, or is the terminal leaf
// when nothing is left. The stored set does not change, and everything is
// allocated before t is touched. Costs O(tail length) whatever u is.
void unfold(trie_node& t, uint64_t u) {
  const std::string_view rest = tail_of(t);
  trie_node chain;
  chain.label = static_cast<uint8_t>(rest[u - 1]);
  if (u < rest.size()) {
    chain.kids = alloc_tail(rest.substr(u));
    chain.tail = true;
  } else {
    chain.terminal = true;
  }
  try {
    for (uint64_t j = u - 1; j > 0; --j) {
      trie_node* block = alloc_block(1);
      block[0] = chain;
      chain = trie_node();
      chain.kids = block;
      chain.n = chain.cap = 1;
      chain.label = static_cast<uint8_t>(rest[j - 1]);
    }
    trie_node* block = alloc_block(1);
    block[0] = chain;
    std::free(t.kids);
    t.kids = block;
    t.n = t.cap = 1;
    t.tail = false;
  } catch (...) {
    free_below(chain);
    throw;
  }
}

uint8_t other_case(uint8_t b) noexcept {
  if (b >= 'a' && b <= 'z') return static_cast<uint8_t>(b - 32);
  if (b >= 'A' && b <= 'Z') return static_cast<uint8_t>(b + 32);
  return b;
}

}  // namespace

trie_adt::trie_adt(scalar key, scalar value) noexcept
    : adt<xstring>(kind::trie, scalar::string, scalar_traits<xstring>::desc, desc_of(value)),
      strings_(key == scalar::string),
      insertable_(key == scalar::string && value == scalar::u08) {}

trie_adt::~trie_adt() {
  if (undo_) end_undo();
  free_below(root_);
}

uint64_t trie_adt::size() const {
  read_lock l(*this);
  return count_;
}

template <class F>
void trie_adt::walk(F&& f) const {
  struct frame {
    const trie_node* kids;
    uint32_t n;
    uint32_t i;
  };
  std::vector<frame> stack;
  std::string path;
  if (root_.kids) stack.push_back({root_.kids, root_.n, 0});
  while (!stack.empty()) {
    frame& fr = stack.back();
    if (fr.i == fr.n) {
      stack.pop_back();
      if (!path.empty()) path.pop_back();
      continue;
    }
    const trie_node& c = fr.kids[fr.i++];
    path.push_back(static_cast<char>(c.label));
    if (c.terminal) f(std::string_view(path));
    if (c.tail) {
      const size_t at = path.size();
      path.append(tail_of(c));
      f(std::string_view(path));
      path.resize(at - 1);
    } else if (c.kids) {
      stack.push_back({c.kids, c.n, 0});
    } else {
      path.pop_back();
    }
  }
}

// Format: docs/FORMATS.md, "Body: trie".
bool trie_adt::save(dump_out& out) const {
  write_header(out, *this);
  out.put_u64(count_);
  walk([&](std::string_view s) { out.put_text(s); });
  return true;
}

// Format: docs/FORMATS.md, "Body: trie".
bool trie_adt::load(dump_in& in) {
  write_lock l(*this);
  uint64_t n;
  if (!in.get_count<xstring>(&n)) return false;
  // A trie over another key type never holds strings.
  if (!strings_) return n == 0;
  xstring s;
  for (uint64_t i = 0; i < n; ++i) {
    if (!in.get_text(&s)) return false;
    uint64_t depth;
    if (!s.empty()) insert(s.view(), &depth);
  }
  return true;
}

bool trie_adt::get_all(list* out) const {
  if (!strings_) return false;
  read_lock l(*this);
  out->reserve(out->size() + count_);
  walk([&](std::string_view s) { out->push_back(xstring(s)); });
  return true;
}

bool trie_adt::get_contains(const xstring& k, bool* out) const {
  if (!strings_) return false;
  read_lock l(*this);
  *out = contains(k.view());
  return true;
}

bool trie_adt::get_contains_nocase(const xstring& k, bool* out) const {
  if (!strings_) return false;
  read_lock l(*this);
  *out = contains_nocase(k.view());
  return true;
}

bool trie_adt::del_all() {
  write_lock l(*this);
  if (undo_) [[unlikely]] {
    steps_.reserve(steps_.size() + 1);
    steps_.push_back(undo_step{root_, count_, 0, 0, 0, true});
    root_ = trie_node();
  } else {
    free_below(root_);
  }
  count_ = 0;
  return true;
}

bool trie_adt::ins_key(const xstring& k, value_ref v) {
  if (!insertable_ || v.type != scalar::u08) return false;
  write_lock l(*this);
  if (undo_) [[unlikely]] return insert_recorded(k.view());
  uint64_t depth;
  return insert(k.view(), &depth);
}

// insert() with its step: room for the step and the key first, so a
// failure leaves the record as it was.
bool trie_adt::insert_recorded(std::string_view k) {
  steps_.reserve(steps_.size() + 1);
  const uint64_t at = keys_.size();
  keys_.append(k);
  uint64_t depth = 0;
  bool added;
  try {
    added = insert(k, &depth);
  } catch (...) {
    keys_.resize(at);
    throw;
  }
  if (!added) {
    keys_.resize(at);
    return false;
  }
  steps_.push_back(undo_step{trie_node(), 0, at, k.size(), depth, false});
  return true;
}

// Undoes the insertion of k that changed the trie at depth. REQUIRES every
// later change undone: the nodes on k's path down to depth are there (as
// nodes, not tails), and below a new child hangs nothing but k.
void trie_adt::take_back(std::string_view k, uint64_t depth) noexcept {
  trie_node* cur = &root_;
  for (uint64_t i = 0; i < depth; ++i) cur = &cur->kids[lower_child(*cur, static_cast<uint8_t>(k[i]))];
  --count_;
  if (depth == k.size()) {
    cur->terminal = false;
    return;
  }
  const uint32_t pos = lower_child(*cur, static_cast<uint8_t>(k[depth]));
  free_below(cur->kids[pos]);
  std::memmove(cur->kids + pos, cur->kids + pos + 1, (cur->n - pos - 1) * sizeof(trie_node));
  if (--cur->n == 0) {
    std::free(cur->kids);
    cur->kids = nullptr;
    cur->cap = 0;
  }
}

// REQUIRES no undo running (no nesting).
void trie_adt::begin_undo() { undo_ = true; }

// Frees the tries that del_all steps kept.
void trie_adt::end_undo() noexcept {
  for (undo_step& s : steps_)
    if (s.cleared) free_below(s.root);
  drop_record();
}

// Takes back every step, newest first.
void trie_adt::rollback() noexcept {
  for (uint64_t i = steps_.size(); i-- > 0;) {
    const undo_step& s = steps_[i];
    if (s.cleared) {
      free_below(root_);
      root_ = s.root;
      count_ = s.count;
    } else {
      take_back(std::string_view(keys_).substr(s.key_at, s.key_len), s.depth);
    }
  }
  drop_record();
}

// Frees the record and ends recording.
void trie_adt::drop_record() noexcept {
  elem_array<undo_step>().swap(steps_);
  std::string().swap(keys_);
  undo_ = false;
}

bool trie_adt::verify() const {
  read_lock l(*this);
  if (root_.terminal || root_.tail) return false;  // the empty string is never stored
  uint64_t strings = 0;
  std::vector<const trie_node*> todo{&root_};
  while (!todo.empty()) {
    const trie_node& x = *todo.back();
    todo.pop_back();
    strings += x.terminal;
    if (x.tail) {
      if (x.n != 0 || x.cap != 0 || tail_of(x).empty()) return false;
      ++strings;
      continue;
    }
    if (x.n > x.cap || x.cap > 256 || (x.cap & (x.cap - 1)) != 0 || (x.n == 0) != (x.kids == nullptr) ||
        (x.cap == 0) != (x.kids == nullptr))
      return false;
    if (x.n == 0 && !x.terminal && &x != &root_) return false;
    for (uint32_t i = 0; i < x.n; ++i) {
      if (i > 0 && x.kids[i - 1].label >= x.kids[i].label) return false;
      todo.push_back(&x.kids[i]);
    }
  }
  return strings == count_ && (strings_ || count_ == 0);
}

bool trie_adt::contains(std::string_view k) const noexcept {
  if (k.empty()) return false;
  const trie_node* cur = &root_;
  for (uint64_t i = 0; i < k.size(); ++i) {
    if (cur->tail) return k.substr(i) == tail_of(*cur);
    cur = find_child(*cur, static_cast<uint8_t>(k[i]));
    if (!cur) return false;
  }
  return cur->terminal;
}

// Depth-first over the case choices: at each byte the byte itself first,
// then its other-case letter; the first terminal node reached at the key's
// end answers. Each node is entered at most once.
bool trie_adt::contains_nocase(std::string_view k) const {
  if (k.empty()) return false;
  struct frame {
    const trie_node* node;
    uint8_t tried;  // alternatives of the next byte already tried
  };
  std::vector<frame> stack;
  stack.push_back({&root_, 0});
  while (!stack.empty()) {
    const uint64_t depth = stack.size() - 1;
    frame& fr = stack.back();
    if (depth == k.size()) {
      if (fr.node->terminal) return true;
      stack.pop_back();
      continue;
    }
    if (fr.node->tail) {
      // One string below: compare the rest of the key letter-blind.
      const std::string_view t = tail_of(*fr.node), r = k.substr(depth);
      bool same = t.size() == r.size();
      for (uint64_t j = 0; same && j < t.size(); ++j) {
        const auto a = static_cast<uint8_t>(r[j]), b = static_cast<uint8_t>(t[j]);
        same = a == b || other_case(a) == b;
      }
      if (same) return true;
      stack.pop_back();
      continue;
    }
    const auto b = static_cast<uint8_t>(k[depth]);
    const trie_node* next = nullptr;
    while (!next && fr.tried < 2) {
      const uint8_t alt = fr.tried++ == 0 ? b : other_case(b);
      if (fr.tried == 2 && alt == b) break;
      next = find_child(*fr.node, alt);
    }
    if (next) stack.push_back({next, 0});
    else stack.pop_back();
  }
  return false;
}

// Follows the stored prefix of k (unfolding tails on the way), then builds
// the new child with the rest of k as its tail and links it last, so a
// failed allocation leaves the stored set as it was.
bool trie_adt::insert(std::string_view k, uint64_t* depth) {
  if (k.empty()) return false;
  trie_node* cur = &root_;
  uint64_t i = 0;
  while (i < k.size()) {
    if (cur->tail) {
      // Spell out the part of the tail that k shares, plus one byte.
      const std::string_view t = tail_of(*cur), r = k.substr(i);
      uint64_t c = 0;
      while (c < t.size() && c < r.size() && t[c] == r[c]) ++c;
      if (c == t.size() && c == r.size()) return false;
      unfold(*cur, std::min<uint64_t>(c + 1, t.size()));
    }
    trie_node* c = const_cast<trie_node*>(find_child(*cur, static_cast<uint8_t>(k[i])));
    if (!c) break;
    cur = c;
    ++i;
  }
  *depth = i;
  if (i == k.size()) {
    if (cur->terminal) return false;
    cur->terminal = true;
    ++count_;
    return true;
  }
  trie_node branch;
  branch.label = static_cast<uint8_t>(k[i]);
  if (i + 1 < k.size()) {
    branch.kids = alloc_tail(k.substr(i + 1));
    branch.tail = true;
  } else {
    branch.terminal = true;
  }
  try {
    const uint32_t pos = lower_child(*cur, branch.label);
    if (cur->n == cur->cap) {
      const uint32_t cap = cur->cap == 0 ? 1 : cur->cap * 2u;
      trie_node* block = alloc_block(cap);
      if (cur->n) {
        std::memcpy(block, cur->kids, pos * sizeof(trie_node));
        std::memcpy(block + pos + 1, cur->kids + pos, (cur->n - pos) * sizeof(trie_node));
      }
      std::free(cur->kids);
      cur->kids = block;
      cur->cap = static_cast<uint16_t>(cap);
    } else {
      std::memmove(cur->kids + pos + 1, cur->kids + pos, (cur->n - pos) * sizeof(trie_node));
    }
    cur->kids[pos] = branch;
    ++cur->n;
  } catch (...) {
    free_below(branch);
    throw;
  }
  ++count_;
  return true;
}

std::unique_ptr<ab_adt> new_trie(scalar key, scalar value) {
  if (key == scalar::none || value == scalar::none) return nullptr;
  return std::make_unique<trie_adt>(key, value);
}

}  // namespace nosql_db
