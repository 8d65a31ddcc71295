// ordered_set_adt<K, Multi>: the "set" (set_adt<K>) and "multiset"
// (multiset_adt<K>) kinds, keys of one type in ascending order in an AVL
// tree with subtree sizes, answering by key and by rank.
//
// A set holds each key once; a multiset keeps equal keys in insertion order.
// Reads take the shared lock. The set's deletions and every re-keying work
// in two steps: the selection through the matching get operation (which
// takes and releases the shared lock itself), then the change under the
// exclusive lock; the two locks are never held at once. The multiset's
// deletions take the exclusive lock once for the whole change.
//
// NaN keys (float/double) have no place in the order: ins_key, re-keying to
// NaN and load refuse them, so the tree never holds one, and a NaN query
// key matches nothing.
//
// The value type carries no data; ins_key answers only when it is u08 (the
// type the catalog gives these kinds).
#pragma once

#include <memory>
#include <utility>

#include "containers/avl.h"
#include "containers/kind_common.h"
#include "containers/kinds.h"

namespace nosql_db {

template <class K, bool Multi>
class ordered_set_adt final : public adt<K> {
  using list = elem_array<K>;
  using node = key_node<K>;
  struct range {
    avl_node* lo = nullptr;
    avl_node* hi = nullptr;
  };

 public:
  explicit ordered_set_adt(type_desc val) noexcept
      : adt<K>(Multi ? kind::multiset : kind::set, scalar_traits<K>::id, scalar_traits<K>::desc, val) {}
  ~ordered_set_adt() override { t_.clear(&free_node); }

  uint64_t size() const override {
    read_lock l(this->lock());
    return t_.size();
  }

  bool save(dump_out& out) const override {
    read_lock l(this->lock());
    write_header(out, *this);
    out.put_u64(t_.size());
    avl_for_each_batch(t_, [&](avl_node* const* nodes, uint64_t count) {
      for (uint64_t i = 0; i < count; ++i) {
        if (i + prefetch_distance < count) prefetch_text(key(nodes[i + prefetch_distance]));
        out.put_elem(key(nodes[i]));
      }
    });
    return true;
  }

  // Adds every key as ins_key does (a set drops repeats); false on a short
  // body or a NaN key, keeping what was read before it.
  bool load(dump_in& in) override {
    write_lock l(this->lock());
    uint64_t n;
    if (!in.template get_count<K>(&n)) return false;
    K v{};
    for (uint64_t i = 0; i < n; ++i) {
      if (!in.get_elem(&v) || is_nan(v)) return false;
      insert(std::make_unique<node>(v));
    }
    return true;
  }

  bool get_rank(const K& k, uint64_t* out) const override {
    if (is_nan(k)) return false;
    read_lock l(this->lock());
    const avl_node* n = avl_find(t_, k);
    if (!n) return false;
    *out = avl_rank(n);
    return true;
  }
  bool get_all(list* out) const override {
    read_lock l(this->lock());
    emit({avl_first(t_.root), avl_last(t_.root)}, out);
    return true;
  }
  bool get_le_ge(const K& a, const K& b, list* out) const override { return report([&] { return between(a, true, b, true); }, out); }
  bool get_lt_ge(const K& a, const K& b, list* out) const override { return report([&] { return between(a, true, b, false); }, out); }
  bool get_le_gt(const K& a, const K& b, list* out) const override { return report([&] { return between(a, false, b, true); }, out); }
  bool get_lt_gt(const K& a, const K& b, list* out) const override { return report([&] { return between(a, false, b, false); }, out); }
  bool get_gt(const K& k, list* out) const override { return report([&] { return above(k, false); }, out); }
  bool get_ge(const K& k, list* out) const override { return report([&] { return above(k, true); }, out); }
  bool get_lt(const K& k, list* out) const override { return report([&] { return below(k, false); }, out); }
  bool get_le(const K& k, list* out) const override { return report([&] { return below(k, true); }, out); }
  bool get_eq(const K& k, list* out) const override { return report([&] { return between(k, true, k, true); }, out); }
  bool get_max_n(uint64_t n, list* out) const override {
    read_lock l(this->lock());
    emit(last_n(n), out);
    return true;
  }
  bool get_min_n(uint64_t n, list* out) const override {
    read_lock l(this->lock());
    emit(first_n(n), out);
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

  bool del_all() override {
    write_lock l(this->lock());
    t_.clear(&free_node);
    return true;
  }
  bool del_le_ge(const K& a, const K& b) override {
    if constexpr (Multi) return erase_sel([&] { return between(a, true, b, true); });
    else return del_selected(&adt<K>::get_le_ge, a, b);
  }
  bool del_lt_ge(const K& a, const K& b) override {
    if constexpr (Multi) return erase_sel([&] { return between(a, true, b, false); });
    else return del_selected(&adt<K>::get_lt_ge, a, b);
  }
  bool del_le_gt(const K& a, const K& b) override {
    if constexpr (Multi) return erase_sel([&] { return between(a, false, b, true); });
    else return del_selected(&adt<K>::get_le_gt, a, b);
  }
  bool del_lt_gt(const K& a, const K& b) override {
    if constexpr (Multi) return erase_sel([&] { return between(a, false, b, false); });
    else return del_selected(&adt<K>::get_lt_gt, a, b);
  }
  bool del_gt(const K& k) override {
    if constexpr (Multi) return erase_sel([&] { return above(k, false); });
    else return del_selected(&adt<K>::get_gt, k);
  }
  bool del_ge(const K& k) override {
    if constexpr (Multi) return erase_sel([&] { return above(k, true); });
    else return del_selected(&adt<K>::get_ge, k);
  }
  bool del_lt(const K& k) override {
    if constexpr (Multi) return erase_sel([&] { return below(k, false); });
    else return del_selected(&adt<K>::get_lt, k);
  }
  bool del_le(const K& k) override {
    if constexpr (Multi) return erase_sel([&] { return below(k, true); });
    else return del_selected(&adt<K>::get_le, k);
  }
  bool del_eq(const K& k) override {
    if constexpr (Multi) return erase_sel([&] { return between(k, true, k, true); });
    else return del_selected(&adt<K>::get_eq, k);
  }
  bool del_max_n(uint64_t n) override {
    if constexpr (Multi) return erase_sel([&] { return last_n(n); });
    else return del_selected(&adt<K>::get_max_n, n);
  }
  bool del_min_n(uint64_t n) override {
    if constexpr (Multi) return erase_sel([&] { return first_n(n); });
    else return del_selected(&adt<K>::get_min_n, n);
  }
  bool del_max() override {
    if constexpr (Multi) return erase_sel([&] { return last_n(1); });
    K k{};
    if (!this->get_max(&k)) return false;
    return remove_keys(&k, 1);
  }
  bool del_min() override {
    if constexpr (Multi) return erase_sel([&] { return first_n(1); });
    K k{};
    if (!this->get_min(&k)) return false;
    return remove_keys(&k, 1);
  }

  bool ins_key(const K& k, value_ref v) override {
    if (is_nan(k) || this->value_type() != scalar::u08 || !value_as<uint8_t>(v)) return false;
    auto n = std::make_unique<node>(k);  // before the lock: nothing changes if it throws
    write_lock l(this->lock());
    return insert(std::move(n));
  }

  bool set_le_ge(const K& a, const K& b, const K& x) override { return rekey(&adt<K>::get_le_ge, x, a, b); }
  bool set_lt_ge(const K& a, const K& b, const K& x) override { return rekey(&adt<K>::get_lt_ge, x, a, b); }
  bool set_le_gt(const K& a, const K& b, const K& x) override { return rekey(&adt<K>::get_le_gt, x, a, b); }
  bool set_lt_gt(const K& a, const K& b, const K& x) override { return rekey(&adt<K>::get_lt_gt, x, a, b); }
  bool set_gt(const K& k, const K& x) override { return rekey(&adt<K>::get_gt, x, k); }
  bool set_ge(const K& k, const K& x) override { return rekey(&adt<K>::get_ge, x, k); }
  bool set_lt(const K& k, const K& x) override { return rekey(&adt<K>::get_lt, x, k); }
  bool set_le(const K& k, const K& x) override { return rekey(&adt<K>::get_le, x, k); }
  bool set_eq(const K& k, const K& x) override { return rekey(&adt<K>::get_eq, x, k); }
  bool set_max_n(uint64_t n, const K& x) override { return rekey(&adt<K>::get_max_n, x, n); }
  bool set_min_n(uint64_t n, const K& x) override { return rekey(&adt<K>::get_min_n, x, n); }
  bool set_max(const K& x) override { return rekey_end(&adt<K>::get_max, x); }
  bool set_min(const K& x) override { return rekey_end(&adt<K>::get_min, x); }

  // For tests: every tree invariant holds; the tree's height.
  bool verify() const {
    read_lock l(this->lock());
    return avl_verify(t_, &in_order, nullptr);
  }
  int height() const {
    read_lock l(this->lock());
    return avl_height(t_.root);
  }

 private:
  static const K& key(const avl_node* n) noexcept { return static_cast<const node*>(n)->key; }
  static K& key(avl_node* n) noexcept { return static_cast<node*>(n)->key; }
  static void free_node(avl_node* n) noexcept { delete static_cast<node*>(n); }
  static bool in_order(const avl_node* a, const avl_node* b, const void*) noexcept {
    const int c = key_cmp(key(a), key(b));
    return Multi ? c <= 0 : c < 0;
  }

  // Links the detached node n; a set refuses (and frees) a present key.
  bool insert(std::unique_ptr<node> n) noexcept {
    avl_node* parent = nullptr;
    avl_node* equal = nullptr;
    bool left = false;
    if (!avl_find_slot(t_, n->key, Multi, &parent, &left, &equal)) return false;
    t_.link(parent, left, n.release());
    return true;
  }

  // The selections (REQUIRE the lock). Empty when a bound is NaN.
  range between(const K& a, bool a_incl, const K& b, bool b_incl) const noexcept {
    if (is_nan(a) || is_nan(b)) return {};
    range r{avl_lower(t_, a, a_incl), avl_upper(t_, b, b_incl)};
    if (!r.lo || !r.hi || key_cmp(key(r.lo), key(r.hi)) > 0) return {};
    return r;
  }
  range above(const K& k, bool incl) const noexcept {
    if (is_nan(k)) return {};
    range r{avl_lower(t_, k, incl), avl_last(t_.root)};
    return r.lo ? r : range{};
  }
  range below(const K& k, bool incl) const noexcept {
    if (is_nan(k)) return {};
    range r{avl_first(t_.root), avl_upper(t_, k, incl)};
    return r.hi ? r : range{};
  }
  range first_n(uint64_t n) const noexcept {
    if (n == 0 || !t_.root) return {};
    avl_node* hi = avl_first(t_.root);
    range r{hi, hi};
    for (uint64_t i = 1; i < n && (hi = avl_next(hi)); ++i) r.hi = hi;
    return r;
  }
  range last_n(uint64_t n) const noexcept {
    if (n == 0 || !t_.root) return {};
    avl_node* lo = avl_last(t_.root);
    range r{lo, lo};
    for (uint64_t i = 1; i < n && (lo = avl_prev(lo)); ++i) r.lo = lo;
    return r;
  }

  // Copies the keys of r into out, ascending.
  void emit(range r, list* out) const {
    if (!r.lo) {
      out->resize(0);
      return;
    }
    out->resize(avl_rank(r.hi) - avl_rank(r.lo) + 1);
    K* p = out->data();
    for (avl_node* n = r.lo;; n = avl_next(n)) {
      *p++ = key(n);
      if (n == r.hi) break;
    }
  }
  // Runs a selection under the shared lock and copies it out.
  template <class S>
  bool report(S&& sel, list* out) const {
    read_lock l(this->lock());
    emit(sel(), out);
    return true;
  }

  // Multiset one-step deletion: removes every node of the selection under
  // the exclusive lock; true when at least one went.
  template <class S>
  bool erase_sel(S&& sel) {
    write_lock l(this->lock());
    const range r = sel();
    if (!r.lo) return false;
    for (avl_node* n = r.lo;;) {
      const bool last = n == r.hi;
      avl_node* next = last ? nullptr : avl_next(n);  // removal keeps the order of the rest
      t_.unlink(n);
      free_node(n);
      if (last) break;
      n = next;
    }
    return true;
  }

  // Set two-step deletion: the selection through get, then each selected
  // key that is still present goes. Returns the get result.
  template <class G, class... A>
  bool del_selected(G get, const A&... args) {
    list sel;
    if (!(this->*get)(args..., &sel)) return false;
    return remove_keys(sel.data(), sel.size());
  }
  bool remove_keys(const K* keys, uint64_t n) {
    write_lock l(this->lock());
    for (uint64_t i = 0; i < n; ++i) {
      if (avl_node* x = avl_find(t_, keys[i])) {
        t_.unlink(x);
        free_node(x);
      }
    }
    return true;
  }

  // Re-keying through a get operation that fills a list.
  template <class G, class... A>
  bool rekey(G get, const K& x, const A&... args) {
    if (is_nan(x)) return false;
    list sel;
    const bool ok = (this->*get)(args..., &sel);
    if (!ok) return false;
    if constexpr (Multi) {
      rekey_all(sel, x);
      return ok;
    } else {
      if (sel.size() != 1) return false;
      return rekey_one(sel[0], x);
    }
  }
  // Re-keying through get_max / get_min.
  bool rekey_end(bool (adt<K>::*get)(K*) const, const K& x) {
    if (is_nan(x)) return false;
    K old{};
    if (!(this->*get)(&old)) return false;
    if constexpr (Multi) {
      list sel;
      sel.push_back(old);
      rekey_all(sel, x);
      return true;
    } else {
      rekey_one(old, x);
      return true;
    }
  }
  // Set: the node holding old leaves, takes the new key and goes back in;
  // when the new key is present it takes its old key back instead. True
  // unless old is gone.
  bool rekey_one(const K& old, const K& x) {
    K fresh(x);  // copied before the lock: nothing changes if it throws
    write_lock l(this->lock());
    avl_node* n = avl_find(t_, old);
    if (!n) return false;
    t_.unlink(n);
    using std::swap;
    swap(key(n), fresh);
    avl_node* parent = nullptr;
    avl_node* equal = nullptr;
    bool left = false;
    if (!avl_find_slot(t_, key(n), false, &parent, &left, &equal)) {
      swap(key(n), fresh);
      avl_find_slot(t_, key(n), false, &parent, &left, &equal);
    }
    t_.link(parent, left, n);
    return true;
  }
  // Multiset: for each selected key, one node holding it moves behind the
  // copies of x. sel's slots are overwritten with copies of x first, so no
  // allocation happens once the tree changes.
  void rekey_all(list& sel, const K& x) {
    list fresh;
    fresh.resize(sel.size());
    for (K& f : fresh) f = x;
    write_lock l(this->lock());
    using std::swap;
    for (uint64_t i = 0; i < sel.size(); ++i) {
      avl_node* n = avl_find(t_, sel[i]);
      if (!n) continue;
      t_.unlink(n);
      swap(key(n), fresh[i]);
      avl_node* parent = nullptr;
      avl_node* equal = nullptr;
      bool left = false;
      avl_find_slot(t_, key(n), true, &parent, &left, &equal);
      t_.link(parent, left, n);
    }
  }

  avl_tree t_;
};

template <class K>
using set_adt = ordered_set_adt<K, false>;
template <class K>
using multiset_adt = ordered_set_adt<K, true>;

#define NOSQL_EXTERN_SET(tag, T, ...)            \
  extern template class ordered_set_adt<T, false>; \
  extern template class ordered_set_adt<T, true>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_SET)
#undef NOSQL_EXTERN_SET

}  // namespace nosql_db
