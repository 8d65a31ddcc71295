// deque_adt<K>: the "deque" kind, a double-ended sequence in a two-sided
// block store.
//
// Storage: a table of blocks of 1024 elements. Entry 2k of the table is
// block k of the back side, entry 2k + 1 block k of the front side. Each
// side numbers its slots from 0 at the middle outward; slot s lies in block
// s / 1024 at offset s % 1024. The back part is stored in order, the front
// part in reverse. origin offsets the inner end of the live region:
//   - origin > 0 only while the front part is empty: front removals have
//     consumed that many inner back slots;
//   - origin < 0 only while the back part is empty: back removals have
//     consumed -origin inner front slots;
//   - a removal that empties the deque resets it to 0.
// Index i (0-based) lives in back slot i - front + origin when i >= front,
// else in front slot front - origin - i - 1. Access is O(1); end insertions
// and removals are O(1) amortised; the table grows by 16 entries at a time;
// blocks are allocated on first use. A block that removals have consumed
// entirely, with one more whole consumed block between it and the live
// elements, is freed, so a deque used as a queue holds constant memory;
// insertions that come back to it allocate it again.
//
// Positions are 1-based except ins_nth, whose argument is a 0-based index.
// End removals never refuse (true on an empty deque); set_all refuses an
// empty deque.
//
// Locking as every container: shared for reads and save, exclusive for
// changes and load. Insertions allocate (table, block) before writing, so
// std::bad_alloc leaves the elements unchanged.
//
// Taking changes back (undo_record, containers/array_kind.h): every step
// records the bookkeeping before it (front, back, origin), which puts
// every element back in its slot; besides that, a push records the block
// it allocated (freed again), ins_nth its index (the moved elements move
// back), a run of end removals the values it removed and the blocks it
// released, which the record keeps instead of freeing; an overwrite saves
// the old values; del_all hands the whole table to the record and starts
// an empty one. Taking back puts back what it finds in the record and
// allocates nothing.
#pragma once

#include <algorithm>
#include <cassert>
#include <memory>
#include <type_traits>
#include <utility>

#include "containers/sequence/array_kind.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K>
class deque_adt final : public adt<K> {
  using list = elem_array<K>;

 public:
  static constexpr uint64_t block_size = 1024;
  static constexpr uint64_t table_step = 16;

  deque_adt() noexcept : adt<K>(kind::deque, scalar_traits<K>::id, scalar_traits<K>::desc, u08_desc) {}
  ~deque_adt() override {
    drop_record();
    free_table(table_, table_len_);
  }

  uint64_t size() const override {
    read_lock l(*this);
    return count();
  }

  // Format: docs/FORMATS.md, "Body: deque".
  bool save(dump_out& out) const override {
    write_header(out, *this);
    out.put_u64(count());
    for (uint64_t i = 0; i < count(); ++i) out.put_elem(at(i));
    return true;
  }
  // Format: docs/FORMATS.md, "Body: deque".
  bool load(dump_in& in) override {
    write_lock l(*this);
    return load_elements<K>(in, [&](const K& v) { push_back(v); });
  }

  bool get_all(list* out) const override {
    read_lock l(*this);
    copy_out(0, count(), out);
    return true;
  }
  bool get_index(const K& x, uint64_t* out) const override {
    read_lock l(*this);
    for (uint64_t i = 0; i < count(); ++i) {
      if (equal(at(i), x)) {
        *out = i;
        return true;
      }
    }
    return false;
  }
  bool get_nth(uint64_t p, K* out) const override {
    if (p == 0) return false;
    read_lock l(*this);
    if (p > count()) return false;
    *out = at(p - 1);
    return true;
  }
  bool get_first(K* out) const override {
    read_lock l(*this);
    if (count() == 0) return false;
    *out = at(0);
    return true;
  }
  bool get_last(K* out) const override {
    read_lock l(*this);
    if (count() == 0) return false;
    *out = at(count() - 1);
    return true;
  }
  bool get_range(uint64_t from, uint64_t to, list* out) const override {
    read_lock l(*this);
    if (!range_ok(from, to)) return false;
    copy_out(from - 1, std::min(to, count()), out);
    return true;
  }
  bool get_first_n(uint64_t n, list* out) const override {
    if (n == 0) return false;
    read_lock l(*this);
    copy_out(0, std::min(n, count()), out);
    return true;
  }
  bool get_last_n(uint64_t n, list* out) const override {
    if (n == 0) return false;
    read_lock l(*this);
    copy_out(count() - std::min(n, count()), count(), out);
    return true;
  }

  bool del_all() override {
    write_lock l(*this);
    if (undo_) [[unlikely]] {
      clear_recorded();
      return true;
    }
    front_ = back_ = 0;
    origin_ = 0;
    return true;
  }
  bool del_first() override {
    write_lock l(*this);
    if (undo_) [[unlikely]] return pop_recorded(true, 1);
    pop_front();
    return true;
  }
  bool del_last() override {
    write_lock l(*this);
    if (undo_) [[unlikely]] return pop_recorded(false, 1);
    pop_back();
    return true;
  }
  bool del_first_n(uint64_t n) override {
    write_lock l(*this);
    if (undo_) [[unlikely]] return pop_recorded(true, n);
    for (uint64_t k = std::min(n, count()); k > 0; --k) pop_front();
    return true;
  }
  bool del_last_n(uint64_t n) override {
    write_lock l(*this);
    if (undo_) [[unlikely]] return pop_recorded(false, n);
    for (uint64_t k = std::min(n, count()); k > 0; --k) pop_back();
    return true;
  }

  bool ins_first(const K& x) override {
    write_lock l(*this);
    if (undo_) [[unlikely]] return grow_recorded(here(undo_op::pushed), front_spot(), [&] { push_front(x); });
    push_front(x);
    return true;
  }
  bool ins_last(const K& x) override {
    write_lock l(*this);
    if (undo_) [[unlikely]] return grow_recorded(here(undo_op::pushed), back_spot(), [&] { push_back(x); });
    push_back(x);
    return true;
  }
  // i is a 0-based index: x becomes element i + 1. The shorter side moves.
  bool ins_nth(uint64_t i, const K& x) override {
    write_lock l(*this);
    const uint64_t n = count();
    if (i > n) return false;
    if (undo_) [[unlikely]] {
      undo_step s = here(undo_op::inserted);
      s.at = i;
      return grow_recorded(s, back_moves(i, n) ? back_spot() : front_spot(), [&] { insert(i, x); });
    }
    insert(i, x);
    return true;
  }

  bool set_all(const K& x) override {
    write_lock l(*this);
    if (count() == 0) return false;
    assign(0, count(), x);
    return true;
  }
  bool set_nth(uint64_t p, const K& x) override {
    if (p == 0) return false;
    write_lock l(*this);
    if (p > count()) return false;
    assign_at(p - 1, x);
    return true;
  }
  bool set_first(const K& x) override {
    write_lock l(*this);
    if (count() == 0) return false;
    assign_at(0, x);
    return true;
  }
  bool set_last(const K& x) override {
    write_lock l(*this);
    if (count() == 0) return false;
    assign_at(count() - 1, x);
    return true;
  }
  bool set_range(uint64_t from, uint64_t to, const K& x) override {
    write_lock l(*this);
    if (!range_ok(from, to)) return false;
    assign(from - 1, std::min(to, count()), x);
    return true;
  }
  bool set_first_n(uint64_t n, const K& x) override {
    if (n == 0) return false;
    write_lock l(*this);
    assign(0, std::min(n, count()), x);
    return true;
  }
  bool set_last_n(uint64_t n, const K& x) override {
    if (n == 0) return false;
    write_lock l(*this);
    assign(count() - std::min(n, count()), count(), x);
    return true;
  }

  // Starts a record (one allocation). REQUIRES no record yet.
  void begin_undo() override {
    assert(!undo_);
    undo_ = std::make_unique<record>();
  }
  // Keeps the changes; frees the record.
  void end_undo() noexcept override { drop_record(); }
  // Takes back every recorded step, newest first, and frees the record,
  // whose blocks and tables are back in use.
  void rollback() noexcept override {
    if (!undo_) return;
    undo_->newest_first([&](const undo_step& s) { take_back(s); });
    undo_.reset();
  }

  // For tests: the store's bookkeeping.
  struct layout {
    uint64_t table_length, front_count, back_count;
    int64_t origin;
  };
  layout inspect() const {
    read_lock l(*this);
    return {table_len_, front_, back_, origin_};
  }
  bool has_block(uint64_t entry) const {
    read_lock l(*this);
    return entry < table_len_ && table_[entry] != nullptr;
  }

 private:
  enum side : uint64_t { back_side = 0, front_side = 1 };
  // A slot of a side.
  struct spot {
    side sd;
    uint64_t s;
  };
  static constexpr uint64_t no_entry = UINT64_MAX;

  uint64_t count() const noexcept { return front_ + back_; }
  bool range_ok(uint64_t from, uint64_t to) const noexcept {
    return count() > 0 && from >= 1 && to >= 1 && from <= to && from <= count();
  }

  static uint64_t entry_of(spot p) noexcept { return 2 * (p.s / block_size) + p.sd; }
  K& slot(side sd, uint64_t s) const noexcept { return table_[entry_of({sd, s})][s % block_size]; }
  // Element i (0-based). REQUIRES: i < count(), or i == count() right after
  // a push made it live. Arithmetic is modulo 2^64; origin's sign rules
  // keep both slot numbers in range.
  K& at(uint64_t i) const noexcept {
    const uint64_t o = static_cast<uint64_t>(origin_);
    if (i >= front_) return slot(back_side, i - front_ + o);
    return slot(front_side, front_ - o - i - 1);
  }

  // Makes slot s of side sd writable: grows the table by 16-entry steps
  // and allocates the block on first use.
  void ensure(side sd, uint64_t s) {
    const uint64_t e = entry_of({sd, s});
    if (e >= table_len_) {
      const uint64_t len = table_len_ + ((e - table_len_) / table_step + 1) * table_step;
      K** t = new K*[len]();
      std::copy(table_, table_ + table_len_, t);
      delete[] table_;
      table_ = t;
      table_len_ = len;
    }
    // Slots of plain types start unset: a slot is written before it is read.
    if (!table_[e]) table_[e] = std::is_trivially_default_constructible_v<K> ? new K[block_size] : new K[block_size]();
  }

  // Where the next push at the back (front) puts its element. When the
  // back (front) part is empty and consumed slots of the other side lie
  // before the live ones, it takes the last of those.
  spot back_spot() const noexcept {
    if (origin_ < 0) return {front_side, static_cast<uint64_t>(-origin_) - 1};
    return {back_side, back_ + static_cast<uint64_t>(origin_)};
  }
  spot front_spot() const noexcept {
    if (origin_ > 0) return {back_side, static_cast<uint64_t>(origin_) - 1};
    return {front_side, front_ + static_cast<uint64_t>(-origin_)};
  }
  void push_back(const K& x) {
    const spot p = back_spot();
    ensure(p.sd, p.s);
    slot(p.sd, p.s) = x;
    if (origin_ < 0) {
      ++origin_;
      ++front_;
    } else {
      ++back_;
    }
  }
  void push_front(const K& x) {
    const spot p = front_spot();
    ensure(p.sd, p.s);
    slot(p.sd, p.s) = x;
    if (origin_ > 0) {
      --origin_;
      ++back_;
    } else {
      ++front_;
    }
  }
  // Whether ins_nth at index i of n elements moves the back part (else
  // the front part): the shorter side moves.
  static bool back_moves(uint64_t i, uint64_t n) noexcept { return n == 0 || 2 * i >= n; }
  // ins_nth. REQUIRES: i <= count().
  void insert(uint64_t i, const K& x) {
    const uint64_t n = count();
    K copy(x);
    if (back_moves(i, n)) {
      push_back(copy);  // the only step that can throw
      for (uint64_t j = n; j > i; --j) at(j) = std::move(at(j - 1));
    } else {
      push_front(copy);
      for (uint64_t j = 1; j <= i; ++j) at(j - 1) = std::move(at(j));
    }
    at(i) = std::move(copy);
  }

  // A block a removal took out of the table while changes are recorded:
  // the record keeps it instead of freeing it.
  struct parked {
    K* block = nullptr;
    uint64_t entry = no_entry;
  };
  // Removed slots keep their values (a string keeps its buffer) until
  // their block is released. A released block goes to *keep when given.
  void pop_front(parked* keep = nullptr) noexcept {
    if (front_ > 0) {
      if (--front_ == 0) origin_ = 0;
    } else if (back_ > 0) {
      if (--back_ == 0) {
        origin_ = 0;
      } else {
        ++origin_;
        release_consumed(back_side, static_cast<uint64_t>(origin_), keep);
      }
    }
  }
  void pop_back(parked* keep = nullptr) noexcept {
    if (back_ > 0) {
      if (--back_ == 0) origin_ = 0;
    } else if (front_ > 0) {
      if (--front_ == 0) {
        origin_ = 0;
      } else {
        --origin_;
        release_consumed(front_side, static_cast<uint64_t>(-origin_), keep);
      }
    }
  }
  // consumed slots of side sd now lie before the live elements. When that
  // count reaches a block boundary, the block two blocks inward has no live
  // slot and one whole consumed block separates it from the live ones: free
  // it (or hand it to *keep). The gap keeps a removal/insertion pair at a
  // boundary from allocating and freeing a block each time.
  void release_consumed(side sd, uint64_t consumed, parked* keep) noexcept {
    if (consumed % block_size != 0 || consumed < 2 * block_size) return;
    const uint64_t e = entry_of({sd, consumed - 2 * block_size});
    if (keep) *keep = {table_[e], e};
    else delete[] table_[e];
    table_[e] = nullptr;
  }

  void copy_out(uint64_t b, uint64_t e, list* out) const {
    out->resize(e - b);
    for (uint64_t i = b; i < e; ++i) (*out)[i - b] = at(i);
  }
  // All or nothing, as fill_all: grow every string first, then assign.
  void assign(uint64_t b, uint64_t e, const K& x) {
    if (undo_) [[unlikely]] return assign_recorded(b, e, x);
    if constexpr (std::is_same_v<K, xstring>) {
      for (uint64_t i = b; i < e; ++i) at(i).reserve(x.size());
    }
    for (uint64_t i = b; i < e; ++i) at(i) = x;
  }
  // Sets element i (< count()) to x.
  void assign_at(uint64_t i, const K& x) {
    if (undo_) [[unlikely]] return assign_recorded(i, i + 1, x);
    at(i) = x;
  }

  // Frees a table and every block in it.
  static void free_table(K** t, uint64_t len) noexcept {
    for (uint64_t e = 0; e < len; ++e) delete[] t[e];
    delete[] t;
  }

  // ---- Taking changes back ----
  enum class undo_op : uint8_t { pushed, inserted, popped_front, popped_back, released, overwritten, cleared };
  struct undo_step {
    undo_op what;
    uint64_t front, back;  // the bookkeeping before the change (not released)
    int64_t origin;
    uint64_t at;  // inserted, overwritten: the index; released: the entry; cleared: the table length
    union {
      uint64_t count;  // popped_*, overwritten: how many elements
      uint64_t entry;  // pushed, inserted: the block the push allocated (no_entry: none)
      K* block;        // released: the block a removal took out of the table
      K** table;       // cleared: the table del_all took away
    };
  };
  using record = undo_record<K, undo_step>;

  // A step of kind w with the bookkeeping as it is now.
  undo_step here(undo_op w) const noexcept { return {w, front_, back_, origin_, 0, {0}}; }

  // Makes a push or ins_nth (change) whose new element goes to p and
  // records s for it, with the block at p when the change allocated it. A
  // change that throws after allocating that block frees it again.
  template <class Change>
  bool grow_recorded(undo_step s, spot p, Change&& change) {
    undo_->make_room(1, 0);
    const uint64_t e = entry_of(p);
    const bool fresh = e >= table_len_ || !table_[e];
    try {
      change();
    } catch (...) {
      if (fresh && e < table_len_) {
        delete[] table_[e];
        table_[e] = nullptr;
      }
      throw;
    }
    s.entry = fresh ? e : no_entry;
    undo_->add(s);
    return true;
  }
  // Removes up to n elements at the front (else the back) as one step
  // that keeps their values, followed by one step for each block the
  // removals release. Room for all of it comes first: k removals cross at
  // most k / block_size + 1 block boundaries.
  bool pop_recorded(bool front, uint64_t n) {
    const uint64_t k = std::min(n, count());
    if (k == 0) return true;
    undo_->make_room(2 + k / block_size, k);
    undo_step s = here(front ? undo_op::popped_front : undo_op::popped_back);
    s.count = k;
    undo_->add(s);
    const uint64_t first = front ? 0 : count() - k;
    undo_->save(k, [&](uint64_t j) -> K& { return at(first + j); });
    for (uint64_t j = 0; j < k; ++j) {
      parked p;
      if (front) pop_front(&p);
      else pop_back(&p);
      if (!p.block) continue;
      undo_step r = here(undo_op::released);
      r.at = p.entry;
      r.block = p.block;
      undo_->add(r);
    }
    return true;
  }
  // assign, recorded: the old values of [b, e) go to the record.
  void assign_recorded(uint64_t b, uint64_t e, const K& x) {
    if (b == e) return;
    undo_->make_room(1, e - b);
    undo_->overwrite(e - b, x, [&](uint64_t j) -> K& { return at(b + j); });
    undo_step s = here(undo_op::overwritten);
    s.at = b;
    s.count = e - b;
    undo_->add(s);
  }
  // del_all: the table goes to the record whole, no element copied.
  void clear_recorded() {
    if (count() == 0) return;
    undo_->make_room(1, 0);
    undo_step s = here(undo_op::cleared);
    s.at = table_len_;
    s.table = table_;
    undo_->add(s);
    table_ = nullptr;
    table_len_ = 0;
    front_ = back_ = 0;
    origin_ = 0;
  }

  // Takes back one step. REQUIRES the deque as the step left it (every
  // newer step taken back), so each block the step needs is in the table.
  void take_back(const undo_step& s) noexcept {
    switch (s.what) {
      case undo_op::inserted:
        close_gap(s.at);
        [[fallthrough]];
      case undo_op::pushed:
        relayout(s);
        if (s.entry != no_entry) {
          delete[] table_[s.entry];
          table_[s.entry] = nullptr;
        }
        break;
      case undo_op::released:
        table_[s.at] = s.block;
        break;
      case undo_op::popped_front:
      case undo_op::popped_back: {
        relayout(s);
        const uint64_t first = s.what == undo_op::popped_front ? 0 : count() - s.count;
        undo_->restore(s.count, [&](uint64_t j) -> K& { return at(first + j); });
        break;
      }
      case undo_op::overwritten:
        undo_->restore(s.count, [&](uint64_t j) -> K& { return at(s.at + j); });
        break;
      case undo_op::cleared:
        free_table(table_, table_len_);  // what was built since
        table_ = s.table;
        table_len_ = s.at;
        relayout(s);
        break;
    }
  }
  // Puts back the bookkeeping s saw.
  void relayout(const undo_step& s) noexcept {
    front_ = s.front;
    back_ = s.back;
    origin_ = s.origin;
  }
  // Takes back insert(i, x)'s moves: the elements that moved for x move
  // back over it. REQUIRES the count right after that insert.
  void close_gap(uint64_t i) noexcept {
    const uint64_t n = count() - 1;
    if (back_moves(i, n)) {
      for (uint64_t j = i; j < n; ++j) at(j) = std::move(at(j + 1));
    } else {
      for (uint64_t j = i; j > 0; --j) at(j) = std::move(at(j - 1));
    }
  }
  // Frees the record and what only it holds (released blocks, tables
  // del_all took away).
  void drop_record() noexcept {
    if (!undo_) return;
    undo_->newest_first([](const undo_step& s) {
      if (s.what == undo_op::released) delete[] s.block;
      else if (s.what == undo_op::cleared) free_table(s.table, s.at);
    });
    undo_.reset();
  }

  K** table_ = nullptr;
  int64_t origin_ = 0;
  uint64_t table_len_ = 0;
  uint64_t front_ = 0;
  uint64_t back_ = 0;
  std::unique_ptr<record> undo_;  // null unless changes may be taken back
};

#define NOSQL_EXTERN_DEQUE(tag, T, ...) extern template class deque_adt<T>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_DEQUE)
#undef NOSQL_EXTERN_DEQUE

}  // namespace nosql_db
