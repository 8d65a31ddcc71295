// ordered_set_adt<K, Multi>: the "set" (set_adt<K>) and "multiset"
// (multiset_adt<K>) kinds, keys of one type in ascending order in a counted
// B+tree, answering by key and by rank.
//
// A set holds each key once; a multiset keeps equal keys in insertion order
// (a new key goes after its equals). What every ordered kind answers alike
// (size, get_all, min and max, deletion by key, save and load) is in
// ordered_adt; this class adds ranks, ranges, the n smallest and largest,
// and the re-keying rules of sets. Reads take the shared lock. Deletions
// take the exclusive lock once and remove the selection they make under it,
// which is what a selection followed by its removal gives when no other
// writer comes between them. Re-keying selects through the matching get
// operation under the shared lock, then changes under the exclusive lock;
// the two are never held at once.
//
// NaN keys (float/double) have no place in the order: ins_key, re-keying to
// NaN and load refuse them, so the tree never holds one, and a NaN query
// key matches nothing.
//
// The value type carries no data; ins_key answers only when it is u08 (the
// type the catalog gives these kinds).
#pragma once

#include "containers/kind_common.h"
#include "containers/kinds.h"
#include "containers/ordered/ordered.h"

namespace nosql_db {

template <class K, bool Multi>
class ordered_set_adt final : public ordered_adt<K, false, Multi> {
  using base = ordered_adt<K, false, Multi>;
  using typename base::list;
  using base::t_;
  static constexpr const bt_shape& shape = bt_shape_v<K, bt_no_value>;

 public:
  explicit ordered_set_adt(type_desc val) noexcept : base(val, shape) {}

  bool save(dump_out& out) const override { return this->template save_elems<bt_no_value>(out); }
  bool load(dump_in& in) override { return this->template load_elems<bt_no_value>(in); }

  bool get_rank(const K& k, uint64_t* out) const override {
    if (is_nan(k)) return false;
    read_lock l(*this);
    bt_path p;
    bt_seek<K, false, true>(t_.tree(), shape, k, &p);
    if (!t_.holds(bt_at(p), k)) return false;
    *out = p.rank;
    return true;
  }
  bool get_le_ge(const K& a, const K& b, list* out) const override { return report(out, a, true, &b, true); }
  bool get_lt_ge(const K& a, const K& b, list* out) const override { return report(out, a, true, &b, false); }
  bool get_le_gt(const K& a, const K& b, list* out) const override { return report(out, a, false, &b, true); }
  bool get_lt_gt(const K& a, const K& b, list* out) const override { return report(out, a, false, &b, false); }
  bool get_gt(const K& k, list* out) const override { return report(out, k, false, nullptr, false); }
  bool get_ge(const K& k, list* out) const override { return report(out, k, true, nullptr, false); }
  bool get_lt(const K& k, list* out) const override { return report_below(out, k, false); }
  bool get_le(const K& k, list* out) const override { return report_below(out, k, true); }
  bool get_max_n(uint64_t n, list* out) const override {
    read_lock l(*this);
    out->resize(0);
    const uint64_t m = n < t_.size() ? n : t_.size();
    if (m > 0) t_.copy_keys(t_.at_rank(t_.size() - m), nullptr, false, m, out);
    return true;
  }
  bool get_min_n(uint64_t n, list* out) const override {
    read_lock l(*this);
    out->resize(0);
    t_.copy_keys(t_.first(), nullptr, false, n, out);
    return true;
  }
  // The range deletions: a set answers true (its selection always
  // succeeds), a multiset whether anything went.
  bool del_le_ge(const K& a, const K& b) override { return erase_between(a, true, b, true); }
  bool del_lt_ge(const K& a, const K& b) override { return erase_between(a, true, b, false); }
  bool del_le_gt(const K& a, const K& b) override { return erase_between(a, false, b, true); }
  bool del_lt_gt(const K& a, const K& b) override { return erase_between(a, false, b, false); }
  bool del_gt(const K& k) override { return erase_above(k, false); }
  bool del_ge(const K& k) override { return erase_above(k, true); }
  bool del_lt(const K& k) override { return erase_below(k, false); }
  bool del_le(const K& k) override { return erase_below(k, true); }
  bool del_max_n(uint64_t n) override {
    write_lock l(*this);
    const uint64_t m = n < t_.size() ? n : t_.size();
    t_.erase_span(t_.size() - m, m);
    return !Multi || m > 0;
  }
  bool del_min_n(uint64_t n) override {
    write_lock l(*this);
    const uint64_t m = n < t_.size() ? n : t_.size();
    t_.erase_span(0, m);
    return !Multi || m > 0;
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

 private:
  // Copies out the keys x with a < x (a <= x when a_incl) and, when b is
  // given, x < b (x <= b when b_incl): one descent, then a walk.
  bool report(list* out, const K& a, bool a_incl, const K* b, bool b_incl) const {
    read_lock l(*this);
    out->resize(0);
    if (is_nan(a) || (b && is_nan(*b))) return true;
    t_.copy_keys(a_incl ? t_.template bound<false>(a) : t_.template bound<true>(a), b, b_incl, UINT64_MAX, out);
    return true;
  }
  bool report_below(list* out, const K& b, bool b_incl) const {
    read_lock l(*this);
    out->resize(0);
    if (is_nan(b)) return true;
    t_.copy_keys(t_.first(), &b, b_incl, UINT64_MAX, out);
    return true;
  }

  // Rank of the first key after a (a_incl: not before a); of the first
  // key after b (b_incl) or not before it.
  uint64_t rank_from(const K& a, bool a_incl) const noexcept {
    return a_incl ? t_.template rank_of_bound<false>(a) : t_.template rank_of_bound<true>(a);
  }
  bool erase_ranks(uint64_t first, uint64_t end) {
    if (end <= first) return !Multi;
    t_.erase_span(first, end - first);
    return true;
  }
  bool erase_between(const K& a, bool a_incl, const K& b, bool b_incl) {
    write_lock l(*this);
    if (is_nan(a) || is_nan(b)) return !Multi;
    return erase_ranks(rank_from(a, a_incl), rank_from(b, !b_incl));
  }
  bool erase_above(const K& k, bool incl) {
    write_lock l(*this);
    if (is_nan(k)) return !Multi;
    return erase_ranks(rank_from(k, incl), t_.size());
  }
  bool erase_below(const K& k, bool incl) {
    write_lock l(*this);
    if (is_nan(k)) return !Multi;
    return erase_ranks(0, rank_from(k, !incl));
  }

  // Re-keying through a get operation that fills a list. A set re-keys
  // only a selection of exactly one key; a multiset re-keys every selected
  // key and answers the get result.
  template <class G, class... A>
  bool rekey(G get, const K& x, const A&... args) {
    if (is_nan(x)) return false;
    list sel;
    if (!(this->*get)(args..., &sel)) return false;
    if constexpr (Multi) {
      rekey_all(sel, x);
      return true;
    } else {
      if (sel.size() != 1) return false;
      return rekey_one(sel[0], x);
    }
  }
  // Re-keying through get_max / get_min: true whenever not empty.
  bool rekey_end(bool (adt<K>::*get)(K*) const, const K& x) {
    if (is_nan(x)) return false;
    K old{};
    if (!(this->*get)(&old)) return false;
    if constexpr (Multi) {
      list sel;
      sel.push_back(old);
      rekey_all(sel, x);
    } else {
      rekey_one(old, x);
    }
    return true;
  }
  // Set: old leaves and x comes in, unless x is present already (then
  // nothing changes). True unless old is gone. The new key goes in first,
  // so a failed allocation leaves the set as it was.
  bool rekey_one(const K& old, const K& x) {
    bt_held h(shape);
    h.hold_key(&x);  // copied before the lock: nothing changes if it throws
    write_lock l(*this);
    if (!t_.holds(t_.bound(old), old)) return false;
    if (bt_same(old, x)) return true;
    t_.as_one([&] {
      if (t_.insert(h, false)) t_.erase_key(old);
    });
    return true;
  }
  // Multiset: each selected key still present leaves once and a copy of x
  // comes in, after the copies of x. The copies go in first: if one cannot
  // be allocated, the ones already in go out again and nothing has changed.
  void rekey_all(const list& sel, const K& x) {
    write_lock l(*this);
    // How many of the selected keys are still there (sel is ascending).
    uint64_t found = 0;
    for (uint64_t i = 0; i < sel.size();) {
      uint64_t j = i + 1;
      while (j < sel.size() && bt_same(sel[j], sel[i])) ++j;
      const uint64_t have = t_.count_of(sel[i]);
      found += have < j - i ? have : j - i;
      i = j;
    }
    t_.as_one([&] {
      this->insert_all_behind(x, found, [](bt_held&, uint64_t) {});
      uint64_t left = found;
      for (uint64_t i = 0; i < sel.size() && left > 0; ++i) {
        if (t_.erase_key(sel[i])) --left;
      }
    });
  }
};

template <class K>
using set_adt = ordered_set_adt<K, false>;
template <class K>
using multiset_adt = ordered_set_adt<K, true>;

#define NOSQL_EXTERN_SET(tag, T, ...)                \
  extern template class ordered_adt<T, false, false>; \
  extern template class ordered_adt<T, false, true>;  \
  extern template class ordered_set_adt<T, false>;     \
  extern template class ordered_set_adt<T, true>;
NOSQL_FOR_EACH_SCALAR(NOSQL_EXTERN_SET)
#undef NOSQL_EXTERN_SET

}  // namespace nosql_db
