// The ordered kinds' common ground. ordered_keys<K>: what set, multiset,
// map and multimap do by key, on a bt_tree whose element shape (the value
// type) is given at run time, so that this code exists once per key type,
// not once per key/value pair. ordered_adt<K, IsMap, IsMulti>: the
// container over it, with every operation the four kinds answer alike;
// set.h and map.h derive the kinds from it and add only what differs.
//
// Positions come from one descent; rank spans (first rank, count) describe
// selections that are removed. Every ordered_keys function REQUIRES the
// container's lock (shared for const members, exclusive otherwise); none
// takes it. Every ordered_adt operation takes it for its whole body.
// Taking changes back is the tree's (btree.h): between begin_undo and
// end_undo or rollback, each step of a change records itself, and a change
// of several steps runs through as_one, so that when a step runs out of
// memory for its record, the steps before it are taken back as well.
// NaN keys never enter a tree: callers refuse them, and a NaN query finds
// nothing (first_at / lower of NaN give the end).
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "containers/base/btree.h"
#include "containers/base/elem_array.h"
#include "containers/base/prefetch.h"
#include "containers/kind_common.h"

namespace nosql_db {

// A key (and a value) built in raw storage and handed over to a tree by
// bt_tree::insert; destroyed here if it never was.
class bt_held {
 public:
  explicit bt_held(const bt_shape& s) noexcept : s_(s) {}
  bt_held(const bt_held&) = delete;
  bt_held& operator=(const bt_held&) = delete;
  ~bt_held() {
    if (has_key_ && s_.destroy_keys) s_.destroy_keys(key_, 1);
    if (has_val_ && s_.destroy_vals) s_.destroy_vals(val_, 1);
  }
  // Copies of *k and *v (v may be null for sets); may throw.
  void hold_key(const void* k) {
    s_.copy_key(key_, k);
    has_key_ = true;
  }
  void hold_val(const void* v) {
    if (!s_.val_size) return;
    s_.copy_val(val_, v);
    has_val_ = true;
  }
  // Takes over the bytes of a value already built elsewhere.
  void adopt_val(const void* bytes) noexcept {
    std::memcpy(val_, bytes, s_.val_size);
    has_val_ = s_.val_size != 0;
  }
  // Builds the key / value in place from x (for instance by moving it).
  template <class T>
  void emplace_key(T&& x) {
    ::new (key_) std::decay_t<T>(std::forward<T>(x));
    has_key_ = true;
  }
  template <class T>
  void emplace_val(T&& x) {
    ::new (val_) std::decay_t<T>(std::forward<T>(x));
    has_val_ = true;
  }
  const void* key() const noexcept { return key_; }
  const void* val() const noexcept { return val_; }
  void handed_over() noexcept { has_key_ = has_val_ = false; }

 private:
  const bt_shape& s_;
  alignas(16) unsigned char key_[bt_max_elem];
  alignas(16) unsigned char val_[bt_max_elem];
  bool has_key_ = false;
  bool has_val_ = false;
};

template <class K>
class ordered_keys {
 public:
  explicit ordered_keys(const bt_shape& s) noexcept : s_(s) {}
  ~ordered_keys() {
    t_.end_undo(s_);
    t_.clear(s_);
  }
  ordered_keys(const ordered_keys&) = delete;
  ordered_keys& operator=(const ordered_keys&) = delete;

  const bt_shape& shape() const noexcept { return s_; }
  const bt_tree& tree() const noexcept { return t_; }
  uint64_t size() const noexcept { return t_.size(); }

  static const K& key(bt_pos q) noexcept { return *bt_leaf_key<K>(q.leaf, q.i); }
  bool holds(bt_pos q, const K& k) const noexcept { return !q.end() && bt_same(key(q), k); }

  bt_pos first() const noexcept { return {t_.head(), 0}; }
  bt_pos last() const noexcept {
    bt_leaf* l = t_.tail();
    return l ? bt_pos{l, l->n - 1u} : bt_pos{};
  }
  // First element >= k (upper: > k); the end for NaN.
  template <bool Upper = false>
  bt_pos bound(const K& k) const noexcept {
    if (is_nan(k)) return {};
    bt_path p;
    bt_seek<K, Upper, false>(t_, s_, k, &p);
    return bt_at(p);
  }
  // Rank of bound(k): the number of elements < k (upper: <= k).
  template <bool Upper = false>
  uint64_t rank_of_bound(const K& k) const noexcept {
    bt_path p;
    bt_seek<K, Upper, true>(t_, s_, k, &p);
    return p.rank;
  }
  bt_pos at_rank(uint64_t r) const noexcept {
    bt_path p;
    t_.seek_rank(s_, r, &p);
    return bt_at(p);
  }
  // Elements equal to k.
  uint64_t count_of(const K& k) const noexcept {
    if (is_nan(k)) return 0;
    return rank_of_bound<true>(k) - rank_of_bound<false>(k);
  }

  // Appends to out the keys from q on that lie below the bound b (at most
  // b_incl: x <= b, else x < b; no bound when b is null), at most limit
  // of them.
  void copy_keys(bt_pos q, const K* b, bool b_incl, uint64_t limit, elem_array<K>* out) const {
    for (bt_leaf* l = q.leaf; l && limit > 0; l = l->next) {
      const K* keys = bt_leaf_key<K>(l, 0);
      const uint32_t from = l == q.leaf ? q.i : 0;
      uint32_t to = l->n;
      if (b) to = from + (b_incl ? bt_bound<K, true>(keys + from, to - from, *b) : bt_bound<K, false>(keys + from, to - from, *b));
      if (to - from > limit) to = from + static_cast<uint32_t>(limit);
      const uint64_t old = out->size();
      out->resize(old + (to - from));
      K* dst = out->data() + old;
      for (uint32_t i = from; i < to; ++i) *dst++ = keys[i];
      limit -= to - from;
      if (to < l->n) break;
    }
  }

  // Inserts the held element; a unique tree refuses a key it holds (false,
  // nothing changed). Throws std::bad_alloc with nothing changed. *rank,
  // when given, receives the new element's rank.
  bool insert(bt_held& h, bool multi, uint64_t* rank = nullptr) {
    const K& k = *static_cast<const K*>(h.key());
    bt_path p;
    if (multi) {
      if (rank) bt_seek<K, true, true>(t_, s_, k, &p);
      else bt_seek<K, true, false>(t_, s_, k, &p);
    } else {
      if (rank) bt_seek<K, false, true>(t_, s_, k, &p);
      else bt_seek<K, false, false>(t_, s_, k, &p);
      if (holds(bt_at(p), k)) return false;
    }
    t_.insert(s_, p, h.key(), h.val());
    h.handed_over();
    if (rank) *rank = p.rank;
    return true;
  }
  // insert() for elements that mostly arrive in order (a dump being read):
  // one that belongs after every element goes straight to the end, which
  // keeps the leaves packed full.
  bool insert_in_order(bt_held& h, bool multi) {
    const K& k = *static_cast<const K*>(h.key());
    const bt_pos end = last();
    if (end.end() || (multi ? !bt_less(k, key(end)) : bt_less(key(end), k))) {
      bt_path p;
      t_.seek_end(s_, &p);
      t_.insert(s_, p, h.key(), h.val());
      h.handed_over();
      return true;
    }
    return insert(h, multi);
  }
  // Removes the first element equal to k; false when there is none.
  // While recording, may throw std::bad_alloc with nothing changed.
  bool erase_key(const K& k) {
    if (is_nan(k) || t_.empty()) return false;
    bt_path p;
    bt_seek<K, false, false>(t_, s_, k, &p);
    const bt_pos q = bt_at(p);
    if (!holds(q, k)) return false;
    if (q.leaf != p.leaf) {
      // The next leaf's first element: a path to it by rank.
      bt_seek<K, false, true>(t_, s_, k, &p);
      t_.seek_rank(s_, p.rank, &p);
    }
    t_.remove(s_, p);
    return true;
  }
  // Removes count elements from rank first on: all of them, or (while
  // recording, std::bad_alloc) none.
  void erase_span(uint64_t first, uint64_t count) {
    as_one([&] {
      bt_path p;
      for (uint64_t i = 0; i < count; ++i) {
        t_.seek_rank(s_, first, &p);
        t_.remove(s_, p);
      }
    });
  }
  // Removes every element; while recording, may throw std::bad_alloc with
  // nothing changed.
  void clear() { t_.remove_all(s_); }
  // As bt_tree::replace_values: the m values at vals (taken over) replace
  // the values of the m elements from rank r on.
  void replace_values(uint64_t r, uint64_t m, const void* vals) { t_.replace_values(s_, r, m, vals); }

  // Taking changes back (btree.h).
  void begin_undo() noexcept { t_.begin_undo(); }
  bool recording() const noexcept { return t_.recording(); }
  void end_undo() noexcept { t_.end_undo(s_); }
  void rollback() noexcept { t_.rollback(s_); }
  // Runs f, a change of several steps, as one: while recording, a step
  // that throws has the steps before it taken back before the exception
  // goes on. Not recording, f runs as it is.
  template <class F>
  void as_one(F&& f) {
    if (!t_.recording()) [[likely]] {
      f();
      return;
    }
    bt_tree::undo_rec* mark = t_.undo_mark();
    try {
      f();
    } catch (...) {
      t_.rollback_to(s_, mark);
      throw;
    }
  }

  bool verify(bool multi) const noexcept { return t_.verify(s_, &bt_compare<K>, multi); }
  int height() const noexcept { return t_.height(); }

 private:
  const bt_shape& s_;
  bt_tree t_;
};

// The four ordered kinds: IsMap, entries carry a value (map, multimap);
// IsMulti, equal keys are kept, in arrival order (multiset, multimap).
// Values are reached as bytes through the tree's shape, so the class exists
// once per key type; the value type enters only through the save and load
// templates, which the kinds instantiate.
template <class K, bool IsMap, bool IsMulti>
class ordered_adt : public adt<K> {
 protected:
  using list = elem_array<K>;
  using ok_t = ordered_keys<K>;

 public:
  uint64_t size() const override {
    read_lock l(*this);
    return t_.size();
  }

  bool get_all(list* out) const override {
    read_lock l(*this);
    out->resize(0);
    t_.copy_keys(t_.first(), nullptr, false, UINT64_MAX, out);
    return true;
  }
  bool get_max(K* out) const override {
    read_lock l(*this);
    if (t_.size() == 0) return false;
    *out = ok_t::key(t_.last());
    return true;
  }
  bool get_min(K* out) const override {
    read_lock l(*this);
    if (t_.size() == 0) return false;
    *out = ok_t::key(t_.first());
    return true;
  }
  // The key once per element keyed k. A map answers false when there is
  // none; the other kinds answer true, with nothing.
  bool get_eq(const K& k, list* out) const override {
    read_lock l(*this);
    out->resize(0);
    if constexpr (IsMulti) {
      t_.copy_keys(t_.bound(k), &k, true, UINT64_MAX, out);
      return true;
    } else {
      const bt_pos q = t_.bound(k);
      if (t_.holds(q, k)) out->push_back(ok_t::key(q));
      return !IsMap || out->size() > 0;
    }
  }

  // A unique kind refuses a key it holds (false). A map's value must be of
  // its value type; a set's is the u08 the catalog gives it, and stays out.
  bool ins_key(const K& k, value_ref v) override {
    if (is_nan(k) || !accepts(v)) return false;
    bt_held h(shape());
    h.hold_key(&k);  // before the lock: nothing changes if it throws
    if constexpr (IsMap) h.hold_val(v.p);
    write_lock l(*this);
    return t_.insert(h, IsMulti);
  }

  bool del_all() override {
    write_lock l(*this);
    t_.clear();
    return true;
  }

  bool del_max() override {
    write_lock l(*this);
    if (t_.size() == 0) return false;
    t_.erase_span(t_.size() - 1, 1);
    return true;
  }
  bool del_min() override {
    write_lock l(*this);
    if (t_.size() == 0) return false;
    t_.erase_span(0, 1);
    return true;
  }
  // Removes every element keyed k: a set answers true, the others whether
  // anything went.
  bool del_eq(const K& k) override {
    write_lock l(*this);
    if constexpr (IsMulti) {
      const uint64_t m = t_.count_of(k);
      if (m == 0) return false;
      t_.erase_span(t_.template rank_of_bound<false>(k), m);
      return true;
    } else {
      return t_.erase_key(k) || !IsMap;
    }
  }

  // Taking changes back (container.h): the tree records every change.
  // REQUIRES the calling thread to hold the container exclusively; none
  // takes a lock.
  void begin_undo() override { t_.begin_undo(); }
  void end_undo() noexcept override { t_.end_undo(); }
  void rollback() noexcept override { t_.rollback(); }

  // For tests: every tree invariant holds; the number of inner levels and
  // of leaves.
  bool verify() const {
    read_lock l(*this);
    return t_.verify(IsMulti);
  }
  int height() const {
    read_lock l(*this);
    return t_.height();
  }
  uint64_t leaves() const {
    read_lock l(*this);
    uint64_t n = 0;
    for (bt_leaf* leaf = t_.tree().head(); leaf; leaf = leaf->next) ++n;
    return n;
  }

 protected:
  // REQUIRES: s is bt_shape_v<K, V> for the kind's V (bt_no_value for sets).
  ordered_adt(type_desc val, const bt_shape& s) noexcept
      : adt<K>(IsMap ? (IsMulti ? kind::multimap : kind::map) : (IsMulti ? kind::multiset : kind::set),
               scalar_traits<K>::id, scalar_traits<K>::desc, val),
        t_(s) {}

  // The save of every ordered kind, V its value type (bt_no_value for
  // sets): the record's header, the count, then each key (and value) in
  // order.
  template <class V>
  // Format: docs/FORMATS.md, "Body: set", "Body: multiset", "Body: map" and
  // "Body: multimap". REQUIRES the lock, as save does.
  bool save_elems(dump_out& out) const {
    [[maybe_unused]] constexpr const bt_shape& s = bt_shape_v<K, V>;
    write_header(out, *this);
    out.put_u64(t_.size());
    for (bt_leaf* leaf = t_.tree().head(); leaf; leaf = leaf->next) {
      prefetch(leaf->next);
      const K* keys = bt_leaf_key<K>(leaf, 0);
      if constexpr (IsMap) {
        const V* vals = reinterpret_cast<const V*>(bt_vals(leaf, s));
        for (uint32_t i = 0; i < leaf->n; ++i) {
          if (i + prefetch_distance < leaf->n) {
            prefetch_text(keys[i + prefetch_distance]);
            prefetch_text(vals[i + prefetch_distance]);
          }
          out.put_elem(keys[i]);
          out.put_elem(vals[i]);
        }
      } else {
        out.put_elems(keys, leaf->n);
      }
    }
    return true;
  }
  // The load of every ordered kind: adds each element as ins_key does (a
  // unique kind drops repeated keys); false on a short body or a NaN key,
  // keeping what was read before it. Elements in ascending order, as dumps
  // hold them, fill the tree's leaves to the brim.
  template <class V>
  // Format: docs/FORMATS.md, "Body: set", "Body: multiset", "Body: map" and
  // "Body: multimap".
  bool load_elems(dump_in& in) {
    constexpr const bt_shape& s = bt_shape_v<K, V>;
    write_lock l(*this);
    uint64_t n, per_elem = min_encoded_size<K>();
    if constexpr (IsMap) per_elem += min_encoded_size<V>();
    if (!in.template get_count<K>(&n, per_elem)) return false;
    K k{};
    [[maybe_unused]] V v{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_elem(&k)) return false;
      if constexpr (IsMap) {
        if (!in.get_elem(&v)) return false;
      }
      if (is_nan(k)) return false;
      bt_held h(s);
      h.emplace_key(std::move(k));
      if constexpr (IsMap) h.emplace_val(std::move(v));
      t_.insert_in_order(h, IsMulti);
    }
    return true;
  }

  // REQUIRES: the exclusive lock. Inserts n elements keyed x behind the
  // ones keyed x already, fill(h, j) giving the j-th its value. All go in
  // or, when memory runs out, none (std::bad_alloc).
  template <class Fill>
  void insert_all_behind(const K& x, uint64_t n, Fill&& fill) {
    uint64_t added = 0;
    try {
      t_.as_one([&] {
        for (; added < n; ++added) {
          bt_held h(shape());
          h.hold_key(&x);
          fill(h, added);
          t_.insert(h, true);
        }
      });
    } catch (...) {
      if (!t_.recording()) {  // (recording, as_one has taken them back)
        const uint64_t end = t_.template rank_of_bound<true>(x);  // the new elements are the last of x
        t_.erase_span(end - added, added);
      }
      throw;
    }
  }

  ok_t t_;

 private:
  // The tree's shape; a set's is known at compile time, which lets the
  // compiler copy and destroy its keys without calls through the shape.
  const bt_shape& shape() const noexcept {
    if constexpr (IsMap) return t_.shape();
    else return bt_shape_v<K, bt_no_value>;
  }
  bool accepts(value_ref v) const noexcept {
    if constexpr (IsMap) return v.type == this->value_type();
    else return this->value_type() == scalar::u08 && value_as<uint8_t>(v) != nullptr;
  }
};

}  // namespace nosql_db
