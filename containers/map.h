// ordered_map_adt<K, V, Multi>: the "map" (map_adt<K,V>) and "multimap"
// (multimap_adt<K,V>) kinds, key/value entries in ascending key order in an
// AVL tree.
//
// A map holds one entry per key; a multimap keeps entries with equal keys in
// the order they arrived. Everything that depends on the key only lives in
// map_base_adt<K, Multi> (28 classes); ordered_map_adt adds the operations
// that touch values (ins_key, get_value, set_value, save, load), so the
// 392 key/value classes stay small.
//
// Locking: every operation holds the container's lock for its whole body,
// shared for reads and save, exclusive for changes and load. Values passed
// as value_ref / value_list_ref must carry the map's V, else false.
// Re-keying relinks the entry's node (the value never moves). NaN keys
// (float/double) have no place in the order: ins_key, re-keying to NaN and
// load refuse them, and a NaN query key matches nothing.
#pragma once

#include <memory>
#include <utility>

#include "containers/avl.h"
#include "containers/kind_common.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K, bool Multi>
class map_base_adt : public adt<K> {
  using list = elem_array<K>;

 public:
  ~map_base_adt() override { t_.clear(free_); }

  uint64_t size() const override {
    read_lock l(this->lock());
    return t_.size();
  }

  bool get_all(list* out) const override {
    read_lock l(this->lock());
    out->resize(t_.size());
    K* p = out->data();
    for (avl_node* n = avl_first(t_.root); n; n = avl_next(n)) *p++ = key(n);
    return true;
  }
  bool get_max(K* out) const override {
    read_lock l(this->lock());
    if (!t_.root) return false;
    *out = key(avl_last(t_.root));
    return true;
  }
  bool get_min(K* out) const override {
    read_lock l(this->lock());
    if (!t_.root) return false;
    *out = key(avl_first(t_.root));
    return true;
  }
  // Map: the key when present, else false. Multimap: the key once per
  // entry; true also when none.
  bool get_eq(const K& k, list* out) const override {
    read_lock l(this->lock());
    const uint64_t m = run_length(first_of(k), k);
    out->resize(m);
    for (K& x : *out) x = k;
    return Multi || m > 0;
  }

  bool del_all() override {
    write_lock l(this->lock());
    t_.clear(free_);
    return true;
  }
  bool del_max() override {
    write_lock l(this->lock());
    return erase(avl_last(t_.root));
  }
  bool del_min() override {
    write_lock l(this->lock());
    return erase(avl_first(t_.root));
  }
  bool del_eq(const K& k) override {
    write_lock l(this->lock());
    avl_node* n = first_of(k);
    uint64_t m = run_length(n, k);
    if (m == 0) return false;
    while (m-- > 0) {
      avl_node* next = avl_next(n);  // removal keeps the order of the rest
      erase(n);
      n = next;
    }
    return true;
  }

  bool set_max(const K& x) override { return rekey_end(x, true); }
  bool set_min(const K& x) override { return rekey_end(x, false); }
  // Map: re-keys the entry; false when absent or when x is another entry's
  // key (then nothing changes). Multimap: moves every entry with key k
  // behind the entries keyed x, keeping their order; false when none.
  bool set_eq(const K& k, const K& x) override {
    if (is_nan(x)) return false;
    if constexpr (Multi) {
      if (key_cmp(k, x) == 0) {
        read_lock l(this->lock());
        return first_of(k) != nullptr;
      }
      write_lock l(this->lock());
      avl_node* n = first_of(k);
      const uint64_t m = run_length(n, k);
      if (m == 0) return false;
      list fresh;  // every new key copied before the tree changes
      fresh.resize(m);
      for (K& f : fresh) f = x;
      for (uint64_t i = 0; i < m; ++i) {
        avl_node* next = avl_next(n);
        move_to(n, fresh[i]);
        n = next;
      }
      return true;
    } else {
      K fresh(x);
      write_lock l(this->lock());
      avl_node* n = first_of(k);
      if (!n) return false;
      return move_to(n, fresh);
    }
  }

  // For tests: every tree invariant holds; the tree's height.
  bool verify() const {
    read_lock l(this->lock());
    return avl_verify(t_, &in_order, nullptr);
  }
  int height() const {
    read_lock l(this->lock());
    return avl_height(t_.root);
  }

 protected:
  map_base_adt(scalar val, void (*free_node)(avl_node*)) noexcept
      : adt<K>(Multi ? kind::multimap : kind::map, scalar_traits<K>::id, scalar_traits<K>::desc, desc_of(val)),
        free_(free_node) {}

  static const K& key(const avl_node* n) noexcept { return key_of<K>(n); }
  static K& key(avl_node* n) noexcept { return static_cast<key_node<K>*>(n)->key; }

  // The first entry with key k, or null (NaN finds nothing). REQUIRES the
  // lock.
  avl_node* first_of(const K& k) const noexcept {
    if (is_nan(k)) return nullptr;
    avl_node* n = avl_lower(t_, k, true);
    return n && key_cmp(key(n), k) == 0 ? n : nullptr;
  }
  // Number of entries with key k from n on.
  static uint64_t run_length(avl_node* n, const K& k) noexcept {
    uint64_t m = 0;
    for (; n && key_cmp(key(n), k) == 0; n = avl_next(n)) ++m;
    return m;
  }
  // Links a detached node; a map refuses a present key (false, n untouched).
  bool link(avl_node* n) noexcept {
    avl_node* parent = nullptr;
    avl_node* equal = nullptr;
    bool left = false;
    if (!avl_find_slot(t_, key(n), Multi, &parent, &left, &equal)) return false;
    t_.link(parent, left, n);
    return true;
  }

  avl_tree t_;

 private:
  static bool in_order(const avl_node* a, const avl_node* b, const void*) noexcept {
    const int c = key_cmp(key(a), key(b));
    return Multi ? c <= 0 : c < 0;
  }
  bool erase(avl_node* n) noexcept {
    if (!n) return false;
    t_.unlink(n);
    free_(n);
    return true;
  }
  // Takes n out, gives it the key in fresh and links it again. When a map
  // already holds that key, n gets its old key back and goes back in; false.
  bool move_to(avl_node* n, K& fresh) noexcept {
    using std::swap;
    t_.unlink(n);
    swap(key(n), fresh);
    if (link(n)) return true;
    swap(key(n), fresh);
    link(n);
    return false;
  }
  bool rekey_end(const K& x, bool last) {
    if (is_nan(x)) return false;
    K fresh(x);
    write_lock l(this->lock());
    avl_node* n = last ? avl_last(t_.root) : avl_first(t_.root);
    if (!n) return false;
    return move_to(n, fresh);
  }

  void (*free_)(avl_node*);
};

template <class K, class V, bool Multi>
class ordered_map_adt final : public map_base_adt<K, Multi> {
  using base = map_base_adt<K, Multi>;
  using node = kv_node<K, V>;

 public:
  ordered_map_adt() noexcept : base(scalar_traits<V>::id, &free_node) {}

  bool save(dump_out& out) const override {
    read_lock l(this->lock());
    write_header(out, *this);
    out.put_u64(this->t_.size());
    avl_for_each_batch(this->t_, [&](avl_node* const* nodes, uint64_t count) {
      for (uint64_t i = 0; i < count; ++i) {
        if (i + prefetch_distance < count) {
          prefetch_text(this->key(nodes[i + prefetch_distance]));
          prefetch_text(value(nodes[i + prefetch_distance]));
        }
        out.put_elem(this->key(nodes[i]));
        out.put_elem(value(nodes[i]));
      }
    });
    return true;
  }
  // Adds every entry as ins_key does (a map drops repeated keys); false on a
  // short body or a NaN key, keeping what was read before it.
  bool load(dump_in& in) override {
    write_lock l(this->lock());
    uint64_t n;
    if (!in.template get_count<K>(&n, min_encoded_size<K>() + min_encoded_size<V>())) return false;
    K k{};
    V v{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_elem(&k) || !in.get_elem(&v) || is_nan(k)) return false;
      add(std::make_unique<node>(k, v));
    }
    return true;
  }

  bool ins_key(const K& k, value_ref v) override {
    const V* pv = value_as<V>(v);
    if (!pv || is_nan(k)) return false;
    auto n = std::make_unique<node>(k, *pv);  // before the lock: nothing changes if it throws
    write_lock l(this->lock());
    return add(std::move(n));
  }
  bool get_value(const K& k, value_list_ref out) const override {
    elem_array<V>* list = value_list_as<V>(out);
    if (!list) return false;
    read_lock l(this->lock());
    avl_node* n = this->first_of(k);
    const uint64_t m = base::run_length(n, k);
    list->resize(m);
    for (V& x : *list) {
      x = value(n);
      n = avl_next(n);
    }
    return m > 0;
  }
  bool set_value(const K& k, value_ref v) override {
    const V* pv = value_as<V>(v);
    if (!pv) return false;
    write_lock l(this->lock());
    avl_node* n = this->first_of(k);
    const uint64_t m = base::run_length(n, k);
    if (m == 0) return false;
    elem_array<V> fresh;  // every copy made before any entry changes
    fresh.resize(m);
    for (V& f : fresh) f = *pv;
    using std::swap;
    for (V& f : fresh) {
      swap(value(n), f);
      n = avl_next(n);
    }
    return true;
  }

 private:
  static V& value(avl_node* n) noexcept { return static_cast<node*>(n)->value; }
  static void free_node(avl_node* n) noexcept { delete static_cast<node*>(n); }
  bool add(std::unique_ptr<node> n) noexcept {
    if (!this->link(n.get())) return false;
    n.release();
    return true;
  }
};

template <class K, class V>
using map_adt = ordered_map_adt<K, V, false>;
template <class K, class V>
using multimap_adt = ordered_map_adt<K, V, true>;

// Instantiated in map_inst_*.cc, two key types per file.
#define NOSQL_MAP_FOR_V(tag, V, X, K) X(K, V)
#define NOSQL_EXTERN_MAP_KV(K, V)               \
  extern template class ordered_map_adt<K, V, false>; \
  extern template class ordered_map_adt<K, V, true>;
#define NOSQL_EXTERN_MAP_K(tag, K, ...)             \
  extern template class map_base_adt<K, false>;     \
  extern template class map_base_adt<K, true>;      \
  NOSQL_FOR_EACH_SCALAR_ARG(NOSQL_MAP_FOR_V, NOSQL_EXTERN_MAP_KV, K)
#define NOSQL_FOR_EACH_SCALAR_ARG(F, X, K)                                                            \
  F(i08, int8_t, X, K) F(i16, int16_t, X, K) F(i32, int32_t, X, K) F(i64, int64_t, X, K)               \
  F(u08, uint8_t, X, K) F(u16, uint16_t, X, K) F(u32, uint32_t, X, K) F(u64, uint64_t, X, K)          \
  F(f32, float, X, K) F(f64, double, X, K) F(date, ::nosql_db::date, X, K) F(time, ::nosql_db::time, X, K) \
  F(datetime, ::nosql_db::date_time, X, K) F(string, ::nosql_db::xstring, X, K)
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_MAP_K)
#undef NOSQL_EXTERN_MAP_K
#undef NOSQL_EXTERN_MAP_KV

// Instantiates both map classes for key K and every value type.
#define NOSQL_INST_MAP_KV(K, V)       \
  template class ordered_map_adt<K, V, false>; \
  template class ordered_map_adt<K, V, true>;
#define NOSQL_INST_MAP_K(K)               \
  template class map_base_adt<K, false>;  \
  template class map_base_adt<K, true>;   \
  NOSQL_FOR_EACH_SCALAR_ARG(NOSQL_MAP_FOR_V, NOSQL_INST_MAP_KV, K)

}  // namespace nosql_db
