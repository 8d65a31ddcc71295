// trie_adt: the "trie" kind, a set of non-empty byte strings in a character
// trie, with exact and ASCII-case-blind lookup and a listing in byte order.
//
// Bytes: every byte value 0..255 has a link, so UTF-8 keys are stored like
// any other. Children are ordered by unsigned byte value, so the listing is
// ascending unsigned byte order, every string before its extensions (bytes
// >= 128 come after ASCII). Only 'a'..'z' / 'A'..'Z' fold in the case-blind
// lookup.
//
// Node layout: a trie_node is 16 bytes (child block pointer, child count,
// block capacity, the byte that leads to it, terminal and tail flags). A
// node's children are stored by value in one heap block, sorted by byte and
// found by binary search; the block doubles (1, 2, 4, ... 256 slots) as
// children are added. A branch that leads to one string only is not spelled
// out node by node: its last node holds the rest of the string as a tail (one
// heap buffer: u64 length, bytes); when another string is inserted through
// a tail, only the part the two share (plus one byte) is spelled out as
// nodes, in time linear in the tail's length. So a string costs
// about one 16-byte node plus one small buffer beyond its shared prefix; a
// fixed 128- or 256-link table would cost 1-2 KB per inner node instead.
// Measured on 1,000,000 random words of 5 to 10 letters (resident-set
// growth, bench/hash_trie_bench.cc): about 60 bytes per stored word, against
// about 80 for std::set<std::string>.
//
// Every walk is iterative (explicit stacks, and pointer reversal when
// freeing), so a key of any length never deepens the call stack.
//
// Variants, one class: the trie's key descriptor is always that of string.
// A trie requested with another key type keeps only size (0), get_count,
// del_all, save and load; ins_key answers only when the requested value type
// is u08.
//
// Taking changes back: while undo_ is set, an insertion records its key
// (bytes appended to keys_) and the depth where it changed the trie: a new
// child there, or the terminal flag of the key's last node. Rollback walks
// the key down to that depth and unlinks and frees that child (all that
// hangs below it is the key's, once later insertions are undone) or clears
// the flag. Tails that insertions spelled out as nodes stay so: that
// changes no answer. del_all keeps the whole old root and count in its
// step; rollback frees whatever is there and puts them back, end_undo frees
// them. Room for the step and the key is allocated before the change.
//
// Locking: shared for size, get_*, save; exclusive for ins_key, del_all,
// load. ins_key allocates the new branch before linking it, so
// std::bad_alloc leaves the stored strings unchanged (a tail on the way may
// have been spelled out as nodes, which changes no answer).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "containers/kind_common.h"
#include "containers/kinds.h"

namespace nosql_db {

struct trie_node {
  // tail false: n children sorted by label, in a block of cap slots.
  // tail true: a buffer (u64 length >= 1, then the bytes) spelling the one
  // string stored below this node; n and cap are 0.
  trie_node* kids = nullptr;
  uint16_t n = 0;
  uint16_t cap = 0;
  uint8_t label = 0;  // the byte on the link from the parent
  bool terminal = false;
  bool tail = false;
};
static_assert(sizeof(trie_node) == 16);

class trie_adt final : public adt<xstring> {
  using list = elem_array<xstring>;

 public:
  // key: the key type requested at creation; value: the value type.
  trie_adt(scalar key, scalar value) noexcept;
  ~trie_adt() override;

  uint64_t size() const override;
  bool save(dump_out& out) const override;
  bool load(dump_in& in) override;

  bool get_all(list* out) const override;
  bool get_contains(const xstring& k, bool* out) const override;
  bool get_contains_nocase(const xstring& k, bool* out) const override;
  bool del_all() override;
  bool ins_key(const xstring& k, value_ref v) override;

  void begin_undo() override;
  void end_undo() noexcept override;
  void rollback() noexcept override;

  // For tests: every node is well formed (children in ascending byte order
  // in a block of a power-of-two size, a tail holds at least one byte, no
  // branch ends without a string) and the count is the number of strings
  // stored.
  bool verify() const;

 private:
  // An insertion (its key is keys_[key_at, key_at + key_len), depth as
  // insert() reported it), or, when cleared, a del_all that left the old
  // root and count here.
  struct undo_step {
    trie_node root;
    uint64_t count;
    uint64_t key_at;
    uint64_t key_len;
    uint64_t depth;
    bool cleared;
  };

  // Adds k; *depth tells where the trie changed: k.size() when the key's
  // last node existed and became terminal, else the depth of the new child.
  bool insert(std::string_view k, uint64_t* depth);
  bool insert_recorded(std::string_view k);
  void take_back(std::string_view k, uint64_t depth) noexcept;
  void drop_record() noexcept;
  bool contains(std::string_view k) const noexcept;
  bool contains_nocase(std::string_view k) const;
  // Calls f(path) for every stored string, in listing order.
  template <class F>
  void walk(F&& f) const;

  trie_node root_;
  uint64_t count_ = 0;
  bool strings_;     // created with key type string
  bool insertable_;  // strings_ and value type u08
  bool undo_ = false;
  elem_array<undo_step> steps_;
  std::string keys_;
};

}  // namespace nosql_db
