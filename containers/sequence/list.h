// list_adt<K>: the "list" kind, a doubly linked chain addressed by 1-based
// position and by position handles.
//
// Positions are reached by walking from the head (O(p)); the ends and every
// handle operation are O(1).
//
// Position handles. Every live node owns one entry of a per-list handle
// table (node pointer, 32-bit generation, free-list link; 16 bytes), and
// the node keeps its entry index. A handle is
//     generation << 32 | (index + 1)
// so it is never 0. Removing a node frees its entry onto the table's free
// list and bumps the entry's generation, so a handle of a removed node no
// longer matches. Each list starts its generations at a distinct
// per-list salt, so a handle issued by another list practically never
// matches a live node of this one. A handle is accepted only when its
// index names a table entry that holds a live node and its generation
// matches; anything else (stale, never issued, another list's) answers
// false without touching a node.
//
// Handle 0 names no node: get_next_pos / get_prev_pos write 0, del_at_pos
// succeeds and changes nothing, ins_at_pos appends, get_at_pos and
// set_at_pos answer false.
//
// Locking as every container: shared for reads and save, exclusive for
// changes and load. Insertions allocate the node and its table entry before
// linking, so std::bad_alloc leaves the list unchanged.
//
// Taking changes back (chain_kind.h keeps the record). The table is part of
// what a rollback restores: a removed node comes back as the same node in
// the same entry, with the entry's generation and free-list link as they
// were (the node keeps the link its entry had while it was removed); an
// entry that a rolled-back insertion took goes back to the head of the
// free list, or off the end of the table when the insertion appended it,
// so the handles given out next are the ones the list would have given.
#pragma once

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "containers/sequence/chain_kind.h"
#include "containers/kinds.h"
#include "containers/base/node_chain.h"

namespace nosql_db {

// A fresh generation salt for a new list's handle table.
uint32_t next_handle_salt() noexcept;
// A list read back with its salt: later lists take salts after it.
void note_handle_salt(uint32_t salt) noexcept;

// What a list node keeps of its handle-table entry: the entry's index, and
// the entry's free-list link from before the node's removal freed it (for
// rollback). Fits where the node had padding.
struct handle_link {
  uint32_t entry = 0;
  uint32_t kept_next = 0;
};
static_assert(sizeof(chain_node<int64_t, handle_link>) == sizeof(chain_node<int64_t, uint32_t>));
static_assert(sizeof(chain_node<xstring, handle_link>) == sizeof(chain_node<xstring, uint32_t>));

template <class K>
class list_adt final : public chain_adt<K, handle_link> {
  using base = chain_adt<K, handle_link>;
  using typename base::list;
  using typename base::chain;
  using typename base::node;
  using base::c_;

 public:
  list_adt() noexcept
      : base(kind::list), salt_(next_handle_salt()) {}

  // Format: docs/FORMATS.md, "Body: list".
  bool load(dump_in& in) override {
    write_lock l(*this);
    return load_elements<K>(in, [&](const K& v) { insert_before(nullptr, v); });
  }

  bool get_nth(uint64_t p, K* out) const override {
    if (p == 0) return false;
    read_lock l(*this);
    if (p > c_.count()) return false;
    *out = c_.at(p - 1)->value;
    return true;
  }
  bool get_range(uint64_t from, uint64_t to, list* out) const override {
    read_lock l(*this);
    if (!range_ok(from, to)) return false;
    chain::copy_out(c_.at(from - 1), std::min(to, c_.count()) - from + 1, out);
    return true;
  }
  bool get_first_n(uint64_t n, list* out) const override {
    if (n == 0) return false;
    read_lock l(*this);
    chain::copy_out(c_.head(), std::min(n, c_.count()), out);
    return true;
  }
  bool get_last_n(uint64_t n, list* out) const override {
    if (n == 0) return false;
    read_lock l(*this);
    const uint64_t k = std::min(n, c_.count());
    chain::copy_out(c_.at(c_.count() - k), k, out);
    return true;
  }
  bool get_pos(const K& x, uint64_t* out) const override {
    read_lock l(*this);
    uint64_t i;
    const node* n = c_.find(x, &i);
    if (!n) return false;
    *out = handle_of(n);
    return true;
  }
  bool get_next_pos(uint64_t h, uint64_t* out) const override { return neighbour_pos(h, true, out); }
  bool get_prev_pos(uint64_t h, uint64_t* out) const override { return neighbour_pos(h, false, out); }
  bool get_at_pos(uint64_t h, K* out) const override {
    read_lock l(*this);
    const node* n = lookup(h);
    if (!n) return false;
    *out = n->value;
    return true;
  }

  bool del_all() override {
    write_lock l(*this);
    this->remove(c_.head(), nullptr, release());
    return true;
  }
  bool del_nth(uint64_t p) override {
    if (p == 0) return false;
    write_lock l(*this);
    if (p > c_.count()) return false;
    node* n = c_.at(p - 1);
    this->remove(n, n->next, release());
    return true;
  }
  bool del_first() override {
    write_lock l(*this);
    if (c_.empty()) return false;
    this->remove(c_.head(), c_.head()->next, release());
    return true;
  }
  bool del_last() override {
    write_lock l(*this);
    if (c_.empty()) return false;
    this->remove(c_.tail(), nullptr, release());
    return true;
  }
  bool del_range(uint64_t from, uint64_t to) override {
    write_lock l(*this);
    if (!range_ok(from, to)) return false;
    node* end = c_.at(std::min(to, c_.count()) - 1)->next;
    this->remove(c_.at(from - 1), end, release());
    return true;
  }
  bool del_first_n(uint64_t n) override {
    if (n == 0) return false;
    write_lock l(*this);
    const uint64_t k = std::min(n, c_.count());
    if (k > 0) this->remove(c_.head(), c_.at(k - 1)->next, release());
    return true;
  }
  bool del_last_n(uint64_t n) override {
    if (n == 0) return false;
    write_lock l(*this);
    this->remove(c_.at(c_.count() - std::min(n, c_.count())), nullptr, release());
    return true;
  }
  bool del_at_pos(uint64_t h) override {
    write_lock l(*this);
    if (h == 0) return true;
    node* n = lookup(h);
    if (!n) return false;
    this->remove(n, n->next, release());
    return true;
  }

  bool ins_nth(uint64_t p, const K& x) override {
    if (p == 0) return false;
    write_lock l(*this);
    if (p > c_.count() + 1) return false;
    // The node at position p + 1, if any: x goes before its predecessor and
    // so becomes element p. Positions count and count + 1 append.
    node* after = c_.at(p);
    insert_before(after ? after->prev : nullptr, x);
    return true;
  }
  bool ins_first(const K& x) override {
    write_lock l(*this);
    insert_before(c_.head(), x);
    return true;
  }
  bool ins_last(const K& x) override {
    write_lock l(*this);
    insert_before(nullptr, x);
    return true;
  }
  bool ins_at_pos(uint64_t h, const K& x) override {
    write_lock l(*this);
    node* b = nullptr;
    if (h != 0 && !(b = lookup(h))) return false;
    insert_before(b, x);
    return true;
  }

  bool set_nth(uint64_t p, const K& x) override {
    if (p == 0) return false;
    write_lock l(*this);
    if (p > c_.count()) return false;
    this->assign(c_.at(p - 1), 1, x);
    return true;
  }
  bool set_range(uint64_t from, uint64_t to, const K& x) override {
    write_lock l(*this);
    if (!range_ok(from, to)) return false;
    this->assign(c_.at(from - 1), std::min(to, c_.count()) - from + 1, x);
    return true;
  }
  bool set_first_n(uint64_t n, const K& x) override {
    if (n == 0) return false;
    write_lock l(*this);
    this->assign(c_.head(), std::min(n, c_.count()), x);
    return true;
  }
  bool set_last_n(uint64_t n, const K& x) override {
    if (n == 0) return false;
    write_lock l(*this);
    const uint64_t k = std::min(n, c_.count());
    this->assign(c_.at(c_.count() - k), k, x);
    return true;
  }
  bool set_at_pos(uint64_t h, const K& x) override {
    write_lock l(*this);
    node* n = lookup(h);
    if (!n) return false;
    this->assign(n, 1, x);
    return true;
  }

  // Format: docs/FORMATS.md, "Checkpoint: list handles".
  void save_extras(dump_out& out) const override {
    std::vector<uint64_t> position(slots_.size(), free_position);
    uint64_t i = 0;
    for (const node* n = c_.head(); n; n = n->next) position[n->extra.entry] = i++;
    out.put_u32(salt_);
    out.put_u32(free_);
    out.put_u64(slots_.size());
    for (size_t e = 0; e < slots_.size(); ++e) {
      out.put_u32(slots_[e].gen);
      out.put_u32(slots_[e].next_free);
      out.put_u64(position[e]);
    }
  }
  // Gives the nodes that load made the entries (and so the handles) they
  // had; false, the list as load left it, when the table does not fit them.
  bool load_extras(dump_in& in) override {
    write_lock l(*this);
    uint32_t salt, free;
    uint64_t m;
    if (!in.get_u32(&salt) || !in.get_u32(&free) || !in.get_u64(&m) || m < c_.count() || m >= no_slot ||
        m > in.remaining() / 16)
      return false;
    std::vector<node*> by_position;
    by_position.reserve(c_.count());
    for (node* n = c_.head(); n; n = n->next) by_position.push_back(n);
    std::vector<slot> table(m);
    uint64_t live = 0;
    for (slot& s : table) {
      uint64_t p;
      if (!in.get_u32(&s.gen) || !in.get_u32(&s.next_free) || !in.get_u64(&p)) return false;
      if (p == free_position) {
        s.n = nullptr;
      } else if (p >= by_position.size() || by_position[p] == nullptr) {
        return false;  // beyond the list, or a node named twice
      } else {
        s.n = std::exchange(by_position[p], nullptr);
        ++live;
      }
    }
    if (live != c_.count() || !free_chain_ok(table, free)) return false;
    for (uint32_t e = 0; e < m; ++e)
      if (table[e].n) table[e].n->extra.entry = e;
    slots_ = std::move(table);
    free_ = free;
    salt_ = salt;
    note_handle_salt(salt);
    return true;
  }

  // Takes back every change since begin_undo, the handle table included.
  void rollback() noexcept override {
    this->undo_steps([this](node* n) noexcept { reclaim(n); },
                     [this](node* n, bool grew) noexcept { unclaim(n, grew); });
  }

  // For tests: entries in the handle table (live and free).
  uint64_t handle_table_size() const {
    read_lock l(*this);
    return slots_.size();
  }

 private:
  // The handle of the node after (or before) node h: 0 at the end, and 0
  // for handle 0; false for a handle that names no live node.
  bool neighbour_pos(uint64_t h, bool next, uint64_t* out) const {
    read_lock l(*this);
    if (h == 0) {
      *out = 0;
      return true;
    }
    const node* n = lookup(h);
    if (!n) return false;
    const node* m = next ? n->next : n->prev;
    *out = m ? handle_of(m) : 0;
    return true;
  }
  static constexpr uint32_t no_slot = UINT32_MAX;
  static constexpr uint64_t free_position = UINT64_MAX;
  struct slot {
    node* n;
    uint32_t gen;
    uint32_t next_free;
  };
  // The free list from `head` visits every free entry once and nothing else.
  static bool free_chain_ok(const std::vector<slot>& t, uint32_t head) noexcept {
    uint64_t free_entries = 0, seen = 0;
    for (const slot& s : t) free_entries += s.n ? 0 : 1;
    for (uint32_t e = head; e != no_slot; e = t[e].next_free) {
      if (e >= t.size() || t[e].n || ++seen > free_entries) return false;
    }
    return seen == free_entries;
  }

  bool range_ok(uint64_t from, uint64_t to) const noexcept {
    return !c_.empty() && from >= 1 && to >= 1 && from <= to && from <= c_.count();
  }

  uint64_t handle_of(const node* n) const noexcept {
    return static_cast<uint64_t>(slots_[n->extra.entry].gen) << 32 | (static_cast<uint64_t>(n->extra.entry) + 1);
  }
  // The live node that h names, or null.
  node* lookup(uint64_t h) const noexcept {
    const uint64_t low = h & 0xffffffffu;
    if (low == 0 || low > slots_.size()) return nullptr;
    const slot& s = slots_[low - 1];
    return s.n && s.gen == static_cast<uint32_t>(h >> 32) ? s.n : nullptr;
  }

  // Allocates a node and its table entry, then links it before b
  // (recorded when undo runs).
  void insert_before(node* b, const K& x) {
    if (free_ == no_slot && slots_.size() == slots_.capacity()) {
      if (slots_.size() >= no_slot) throw std::bad_alloc();
      slots_.reserve(std::max<size_t>(16, slots_.capacity() * 2));
    }
    if (this->undo_) [[unlikely]] this->reserve_step();
    node* n = chain::make(x);
    // From here on nothing throws.
    uint32_t i;
    const bool grew = free_ == no_slot;
    if (!grew) {
      i = free_;
      free_ = slots_[i].next_free;
      slots_[i].n = n;
    } else {
      i = static_cast<uint32_t>(slots_.size());
      slots_.push_back(slot{n, salt_, no_slot});
    }
    n->extra.entry = i;
    c_.link_before(b, n);
    if (this->undo_) [[unlikely]] this->note_inserted(n, grew);
  }
  // The hook that returns a removed node's entry to the free list; the
  // node keeps the entry's old link for reclaim().
  auto release() noexcept {
    return [this](node* n) noexcept {
      slot& s = slots_[n->extra.entry];
      s.n = nullptr;
      ++s.gen;
      n->extra.kept_next = s.next_free;
      s.next_free = free_;
      free_ = n->extra.entry;
    };
  }
  // Undoes release(n). REQUIRES n's entry at the head of the free list
  // (every later release undone).
  void reclaim(node* n) noexcept {
    slot& s = slots_[n->extra.entry];
    free_ = s.next_free;
    s.next_free = n->extra.kept_next;
    --s.gen;
    s.n = n;
  }
  // Undoes the taking of n's entry by insert_before (grew: it appended
  // the entry). REQUIRES every later change to the table undone.
  void unclaim(node* n, bool grew) noexcept {
    if (grew) {
      slots_.pop_back();
    } else {
      slots_[n->extra.entry].n = nullptr;
      free_ = n->extra.entry;
    }
  }

  std::vector<slot> slots_;
  uint32_t free_ = no_slot;
  uint32_t salt_;
};

#define NOSQL_EXTERN_LIST(tag, T, ...) extern template class list_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_LIST)
#undef NOSQL_EXTERN_LIST

}  // namespace nosql_db
