// ordered_map_adt<K, V, Multi>: the "map" (map_adt<K,V>) and "multimap"
// (multimap_adt<K,V>) kinds, key/value entries in ascending key order in a
// counted B+tree.
//
// A map holds one entry per key; a multimap keeps entries with equal keys in
// the order they arrived. What every ordered kind answers alike is in
// ordered_adt<K, true, Multi>; map_base_adt<K, Multi> adds what maps alone
// do by key (set_value and the re-keying rules of maps), reaching values
// as bytes through the tree's shape; both exist once per key type (28
// classes each). ordered_map_adt adds the operations that need the value's
// type (get_value, save, load), so the 392 key/value classes stay small.
//
// Locking: every operation holds the container's lock for its whole body,
// shared for reads and save, exclusive for changes and load. Values passed
// as value_ref / value_list_ref must carry the map's V, else false.
// Changes that move entries put the new entries in before the old ones go,
// so a failed allocation leaves the map as it was. NaN keys (float/double)
// have no place in the order: ins_key, re-keying to NaN and load refuse
// them, and a NaN query key matches nothing.
#pragma once

#include <memory>

#include "containers/kind_common.h"
#include "containers/kinds.h"
#include "containers/ordered/ordered.h"

namespace nosql_db {

template <class K, bool Multi>
class map_base_adt : public ordered_adt<K, true, Multi> {
  using base = ordered_adt<K, true, Multi>;
  using typename base::ok_t;

 public:
  // Every entry with key k gets a copy of the value.
  bool set_value(const K& k, value_ref v) override {
    if (v.type != this->value_type()) return false;
    const bt_shape& s = t_.shape();
    write_lock l(*this);
    const uint64_t m = Multi ? t_.count_of(k) : (t_.holds(t_.bound(k), k) ? 1 : 0);
    if (m == 0) return false;
    value_bytes fresh(s, m);  // every copy made before any entry changes
    for (uint64_t i = 0; i < m; ++i) fresh.copy_in(i, v.p);
    t_.replace_values(t_.template rank_of_bound<false>(k), m, fresh.at(0));
    fresh.handed_over(m - 1);
    return true;
  }

  bool set_max(const K& x) override { return rekey_end(x, true); }
  bool set_min(const K& x) override { return rekey_end(x, false); }
  // Map: re-keys the entry; false when absent or when x is another entry's
  // key (then nothing changes). Multimap: moves every entry with key k
  // behind the entries keyed x, keeping their order; false when none.
  bool set_eq(const K& k, const K& x) override {
    if (is_nan(x)) return false;
    if (bt_same(k, x)) {
      read_lock l(*this);
      return t_.holds(t_.bound(k), k);
    }
    write_lock l(*this);
    const uint64_t first = t_.template rank_of_bound<false>(k);
    const uint64_t m = t_.count_of(k);
    if (m == 0) return false;
    if (!Multi && t_.holds(t_.bound(x), x)) return false;
    t_.as_one([&] {
      move_entries(first, m, x);
      // The moved entries are in, and k's entries (none of them keyed x)
      // are where they were, but for the ones x pushed along.
      t_.erase_span(t_.template rank_of_bound<false>(k), m);
    });
    return true;
  }

 protected:
  map_base_adt(scalar val, const bt_shape& s) noexcept : base(desc_of(val), s) {}
  using base::t_;

 private:
  // Values copied out of entries, as bytes in the tree's value layout.
  class value_bytes {
   public:
    value_bytes(const bt_shape& s, uint64_t n) : s_(s), buf_(new unsigned char[n * s.val_size + 1]) {}
    ~value_bytes() {
      if (s_.destroy_vals) s_.destroy_vals(buf_.get() + done_ * s_.val_size, built_ - done_);
    }
    value_bytes(const value_bytes&) = delete;
    value_bytes& operator=(const value_bytes&) = delete;
    // Copies the value at v into slot i (slots are filled in order).
    void copy_in(uint64_t i, const void* v) {
      s_.copy_val(at(i), v);
      built_ = i + 1;
    }
    // Slot i's value now belongs to someone else (slots go in order).
    void handed_over(uint64_t i) noexcept { done_ = i + 1; }
    unsigned char* at(uint64_t i) noexcept { return buf_.get() + i * s_.val_size; }

   private:
    const bt_shape& s_;
    std::unique_ptr<unsigned char[]> buf_;
    uint64_t built_ = 0;  // slots [done_, built_) hold values of ours
    uint64_t done_ = 0;
  };

  // Puts a copy of the m entries from rank first on under key x, behind
  // the entries keyed x, in their order. Either all go in or, when memory
  // runs out, none (std::bad_alloc).
  void move_entries(uint64_t first, uint64_t m, const K& x) {
    const bt_shape& s = t_.shape();
    value_bytes vals(s, m);
    bt_pos e = t_.at_rank(first);
    for (uint64_t i = 0; i < m; ++i, e = bt_next(e)) vals.copy_in(i, bt_vals(e.leaf, s) + uint64_t{e.i} * s.val_size);
    this->insert_all_behind(x, m, [&](bt_held& h, uint64_t i) {
      h.adopt_val(vals.at(i));
      vals.handed_over(i);
    });
  }

  // Map: the last / first entry takes key x, unless another entry holds x.
  // Multimap: it moves behind the entries keyed x.
  bool rekey_end(const K& x, bool last) {
    if (is_nan(x)) return false;
    write_lock l(*this);
    if (t_.size() == 0) return false;
    const uint64_t r = last ? t_.size() - 1 : 0;
    const K& old = ok_t::key(t_.at_rank(r));
    if constexpr (!Multi) {
      if (bt_same(old, x)) return true;
      if (t_.holds(t_.bound(x), x)) return false;
    }
    const uint64_t before = t_.template rank_of_bound<true>(x);  // where the entry will go
    t_.as_one([&] {
      move_entries(r, 1, x);
      t_.erase_span(before <= r ? r + 1 : r, 1);
    });
    return true;
  }
};

template <class K, class V, bool Multi>
class ordered_map_adt final : public map_base_adt<K, Multi> {
  using base = map_base_adt<K, Multi>;
  static constexpr const bt_shape& shape = bt_shape_v<K, V>;

 public:
  ordered_map_adt() noexcept : base(scalar_traits<V>::id, shape) {}

  bool save(dump_out& out) const override { return this->template save_elems<V>(out); }
  bool load(dump_in& in) override { return this->template load_elems<V>(in); }

  bool get_value(const K& k, value_list_ref out) const override {
    elem_array<V>* list = value_list_as<V>(out);
    if (!list) return false;
    read_lock l(*this);
    list->resize(0);
    bt_pos q = this->t_.bound(k);
    for (; this->t_.holds(q, k); q = bt_next(q)) list->push_back(reinterpret_cast<const V*>(bt_vals(q.leaf, shape))[q.i]);
    return list->size() > 0;
  }
};

template <class K, class V>
using map_adt = ordered_map_adt<K, V, false>;
template <class K, class V>
using multimap_adt = ordered_map_adt<K, V, true>;

// An empty map (multi: multimap) of key K and the given value type; null
// for a value type that is none of the fourteen. Instantiated for each K
// beside its classes, so that new_map (map.cc) builds none of them itself.
template <class K>
std::unique_ptr<ab_adt> new_map_of(scalar value, bool multi) {
  return visit_scalar(value, std::unique_ptr<ab_adt>(), [&]<class V>(type_tag<V>) -> std::unique_ptr<ab_adt> {
    // Straight into unique_ptr<ab_adt>: no unique_ptr type per class to
    // instantiate (the constructors cannot throw).
    if (multi) return std::unique_ptr<ab_adt>(new multimap_adt<K, V>());
    return std::unique_ptr<ab_adt>(new map_adt<K, V>());
  });
}

// Instantiated in map_inst_*.cc, two key types per file.
#define NOSQL_EXTERN_MAP_KV(K, V)                     \
  extern template class ordered_map_adt<K, V, false>; \
  extern template class ordered_map_adt<K, V, true>;
#define NOSQL_EXTERN_MAP_K(tag, K, ...)                                \
  extern template class ordered_adt<K, true, false>;                   \
  extern template class ordered_adt<K, true, true>;                    \
  extern template class map_base_adt<K, false>;                        \
  extern template class map_base_adt<K, true>;                         \
  extern template std::unique_ptr<ab_adt> new_map_of<K>(scalar, bool); \
  NOSQL_FOR_EACH_VALUE_LATER(K, NOSQL_EXTERN_MAP_KV)
NOSQL_EXPAND(NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_MAP_K))
#undef NOSQL_EXTERN_MAP_K
#undef NOSQL_EXTERN_MAP_KV

// Instantiates both map classes for key K and every value type, and their
// constructor.
#define NOSQL_INST_MAP_KV(K, V)                \
  template class ordered_map_adt<K, V, false>; \
  template class ordered_map_adt<K, V, true>;
#define NOSQL_INST_MAP_K(K)                                     \
  template class ordered_adt<K, true, false>;                   \
  template class ordered_adt<K, true, true>;                    \
  template class map_base_adt<K, false>;                        \
  template class map_base_adt<K, true>;                         \
  template std::unique_ptr<ab_adt> new_map_of<K>(scalar, bool); \
  NOSQL_FOR_EACH_VALUE(K, NOSQL_INST_MAP_KV)

}  // namespace nosql_db
