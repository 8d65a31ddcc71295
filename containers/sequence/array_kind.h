// array_adt<K>: what the kinds stored in one elem_array<K> share (vector,
// stack, heap): size, save in storage order, get_all, del_all keeping the
// block (or handing it to the record, below), the changes the kinds make
// to the array, and taking them back. The derived kind adds its own
// operations and load (which records nothing).
//
// undo_record<K, Step>: what a container keeps from begin_undo to its end
// (the array kinds here, the deque too): the steps it took, newest last,
// and the values those steps removed or overwrote.
//
// Taking changes back. Each change made while a record exists is one step
// whose inverse needs no memory:
//   - an insertion records its slot; the inverse removes that slot;
//   - a removal of k elements moves their k values into the record (a
//     string is swapped: its bytes move, nothing is copied) and records
//     where; the inverse opens the k slots again, in room the block still
//     has, since blocks never shrink;
//   - an overwrite of k slots makes its copies of the new value in the
//     record first (the only step that can fail), then swaps them with the
//     old values, which the inverse swaps back;
//   - del_all hands the whole array to the record, O(1), and the kind goes
//     on with an empty one; the inverse hands it back.
// Every recording change makes room in the record before it changes
// anything, so std::bad_alloc leaves both as they were; rollback and
// end_undo only move values and free memory.
#pragma once

#include <algorithm>
#include <cassert>
#include <memory>
#include <type_traits>

#include "containers/kind_common.h"

namespace nosql_db {

template <class K, class Step>
class undo_record {
 public:
  // Makes room for `steps` more steps and `values` more saved values, so
  // that the change that follows records without failing. May throw
  // std::bad_alloc; the record's content stays as it was.
  void make_room(uint64_t steps, uint64_t values) {
    steps_.reserve(steps_.size() + steps);
    values_.reserve(values_.size() + values);
  }
  // Appends a step. REQUIRES room.
  void add(const Step& s) noexcept { steps_.push_back(s); }

  // Moves the values slot(0) .. slot(k - 1) into the record; each slot is
  // left with a value of no meaning. REQUIRES room for k values.
  template <class Slot>
  void save(uint64_t k, Slot&& slot) noexcept {
    const uint64_t n = values_.size();
    for (uint64_t j = 0; j < k; ++j) keep(values_[n + j], slot(j));
    values_.resize(n + k);
  }
  // Sets slot(0) .. slot(k - 1) to x and saves their old values, all or
  // nothing: std::bad_alloc (a string copy) comes before any slot changes.
  // REQUIRES room for k values.
  template <class Slot>
  void overwrite(uint64_t k, const K& x, Slot&& slot) {
    const uint64_t n = values_.size();
    if constexpr (std::is_same_v<K, xstring>) {
      for (uint64_t j = 0; j < k; ++j) values_[n + j] = x;  // spare slots: the size is not yet theirs
      for (uint64_t j = 0; j < k; ++j) values_[n + j].swap(slot(j));
    } else {
      for (uint64_t j = 0; j < k; ++j) values_[n + j] = slot(j);
      for (uint64_t j = 0; j < k; ++j) slot(j) = x;
    }
    values_.resize(n + k);
  }
  // Gives the k newest saved values back to slot(0) .. slot(k - 1), in the
  // order save or overwrite took them.
  template <class Slot>
  void restore(uint64_t k, Slot&& slot) noexcept {
    const uint64_t n = values_.size() - k;
    for (uint64_t j = 0; j < k; ++j) keep(slot(j), values_[n + j]);
    values_.resize(n);
  }

  // Calls f on each step, newest first.
  template <class F>
  void newest_first(F&& f) const noexcept {
    for (uint64_t i = steps_.size(); i-- > 0;) f(steps_[i]);
  }

 private:
  // Moves from into to: a string by swapping, so nothing is copied.
  static void keep(K& to, K& from) noexcept {
    if constexpr (std::is_same_v<K, xstring>) to.swap(from);
    else to = from;
  }

  elem_array<Step> steps_;
  elem_array<K> values_;  // the values steps saved, in step order
};

template <class K>
class array_adt : public adt<K> {
 public:
  using list = elem_array<K>;

  uint64_t size() const override {
    read_lock l(*this);
    return a_.size();
  }
  // Format: docs/FORMATS.md, "Body: vector", "Body: stack" and "Body: heap".
  bool save(dump_out& out) const override {
    write_header(out, *this);
    out.put_u64(a_.size());
    out.put_elems(a_.data(), a_.size());  // fixed-width elements in one write
    return true;
  }
  bool get_all(list* out) const override {
    read_lock l(*this);
    out->resize(a_.size());
    std::copy(a_.begin(), a_.end(), out->data());
    return true;
  }
  bool del_all() override {
    write_lock l(*this);
    if (undo_) [[unlikely]] {
      clear_recorded();
    } else {
      a_.clear();
    }
    return true;
  }

  // Starts a record (one allocation). REQUIRES no record yet.
  void begin_undo() override {
    assert(!undo_);
    undo_ = std::make_unique<record>();
  }
  // Keeps the changes; frees the record.
  void end_undo() noexcept override { undo_.reset(); }
  // Takes back every recorded step, newest first, and frees the record.
  void rollback() noexcept override {
    if (!undo_) return;
    undo_->newest_first([&](const undo_step& s) { take_back(s); });
    undo_.reset();
  }

  // For tests: the block's capacity.
  uint64_t capacity() const {
    read_lock l(*this);
    return a_.capacity();
  }

 protected:
  // What one recorded change did, with its slot and count.
  enum class undo_op : uint8_t {
    inserted,     // one element at slot at
    erased,       // count elements from slot at (values saved)
    overwritten,  // count slots from slot at (old values saved)
    cleared,      // del_all: the array went to the record's cleared list
    pushed,       // the heap's own steps (heap.h)
    popped,
  };
  struct undo_step {
    undo_op what;
    uint64_t at;
    uint64_t count;
  };
  struct record : undo_record<K, undo_step> {
    elem_array<elem_array<K>> cleared;  // the arrays del_all took away, in step order
  };

  explicit array_adt(kind k) noexcept : adt<K>(k, scalar_traits<K>::id, scalar_traits<K>::desc, u08_desc) {}

  // The changes the kinds make; each records itself while a record exists
  // and then may throw std::bad_alloc before it changes anything.
  // Inserts x at slot i (i <= size; i == size appends).
  void insert_at(uint64_t i, const K& x) {
    if (undo_) [[unlikely]] return insert_recorded(i, x);
    if (i == a_.size()) a_.push_back(x);
    else a_.insert_at(i, x);
  }
  // Removes the k elements from slot i (i + k <= size).
  void erase_at(uint64_t i, uint64_t k) {
    if (undo_) [[unlikely]] return erase_recorded(i, k);
    a_.erase_at(i, k);
  }
  // Sets slots [b, e) to x, all or nothing.
  void fill_range(uint64_t b, uint64_t e, const K& x) {
    if (undo_) [[unlikely]] return fill_recorded(b, e, x);
    fill_all(a_.data() + b, a_.data() + e, x);
  }
  // Sets slot i (< size) to x.
  void assign_at(uint64_t i, const K& x) {
    if (undo_) [[unlikely]] return fill_recorded(i, i + 1, x);
    a_[i] = x;
  }

  // Takes back one step. REQUIRES the array as the step left it (every
  // newer step taken back). The heap adds its own steps.
  virtual void take_back(const undo_step& s) noexcept {
    switch (s.what) {
      case undo_op::inserted:
        a_.erase_at(s.at, 1);
        break;
      case undo_op::erased:
        a_.open_at(s.at, s.count);
        [[fallthrough]];
      case undo_op::overwritten:
        undo_->restore(s.count, [&](uint64_t j) -> K& { return a_[s.at + j]; });
        break;
      case undo_op::cleared: {
        elem_array<elem_array<K>>& c = undo_->cleared;
        a_.swap(c[c.size() - 1]);
        elem_array<K>().swap(c[c.size() - 1]);  // frees what was built since
        c.resize(c.size() - 1);
        break;
      }
      default:
        break;
    }
  }

  elem_array<K> a_;
  std::unique_ptr<record> undo_;  // null unless changes may be taken back

 private:
  // The recorded forms of the changes above: room first, then the change
  // (which may still throw before it changes anything), then the step.
  void insert_recorded(uint64_t i, const K& x) {
    undo_->make_room(1, 0);
    if (i == a_.size()) a_.push_back(x);
    else a_.insert_at(i, x);
    undo_->add({undo_op::inserted, i, 1});
  }
  void erase_recorded(uint64_t i, uint64_t k) {
    if (k == 0) return;
    undo_->make_room(1, k);
    undo_->save(k, [&](uint64_t j) -> K& { return a_[i + j]; });
    a_.erase_at(i, k);
    undo_->add({undo_op::erased, i, k});
  }
  void fill_recorded(uint64_t b, uint64_t e, const K& x) {
    if (b == e) return;
    undo_->make_room(1, e - b);
    undo_->overwrite(e - b, x, [&](uint64_t j) -> K& { return a_[b + j]; });
    undo_->add({undo_op::overwritten, b, e - b});
  }
  // del_all: the array goes to the record whole, no element copied.
  void clear_recorded() {
    if (a_.empty()) return;
    elem_array<elem_array<K>>& c = undo_->cleared;
    undo_->make_room(1, 0);
    c.reserve(c.size() + 1);
    c.resize(c.size() + 1);  // a spare slot: an empty array
    c[c.size() - 1].swap(a_);
    undo_->add({undo_op::cleared, 0, 0});
  }
};

}  // namespace nosql_db
