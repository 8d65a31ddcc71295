// The get command: one read operation, answered as at most one column.
#include <tuple>

#include "ops/ops.h"
#include "ops/typed.h"
#include "ops/words.h"

namespace nosql_db {
namespace {

constexpr type_desc u64_desc = scalar_traits<uint64_t>::desc;
constexpr type_desc u08_col_desc = scalar_traits<uint8_t>::desc;
constexpr type_desc text_desc = scalar_traits<xstring>::desc;

// The list a get fills, kept per thread and key type so that answers of a
// few elements allocate nothing; one that grew large is let go afterwards.
// A thread's lists sit in one heap block that it allocates on its first
// get; the block is reached through one pointer of static TLS (a library
// that a host loads late has little of that) and freed when the thread
// ends.
#define NOSQL_LIST_OF(tag, T, ...) elem_array<T>,
using thread_lists = std::tuple<NOSQL_FOR_EACH_SCALAR(NOSQL_LIST_OF) int>;
#undef NOSQL_LIST_OF
thread_local thread_lists* t_lists [[gnu::tls_model("initial-exec")]] = nullptr;
struct lists_owner {
  ~lists_owner() {
    delete t_lists;
    t_lists = nullptr;
  }
};
thread_local lists_owner t_lists_owner;

template <class K>
struct scratch_list {
  elem_array<K>& l;
  scratch_list() : l(slot()) { l.clear(); }
  ~scratch_list() {
    if (l.capacity() > 4096) l = elem_array<K>();
  }
  static elem_array<K>& slot() {
    if (!t_lists) {
      t_lists = new thread_lists();
      (void)&t_lists_owner;  // first use: its destructor runs at thread exit
    }
    return std::get<elem_array<K>>(*t_lists);
  }
};

template <class K>
bool get_typed(const adt<K>& c, word w, std::string_view a, std::string_view b, datas* out) {
  scratch_list<K> scratch;
  elem_array<K>& list = scratch.l;
  K one{};
  uint64_t n = 0;
  K k1{}, k2{};
  bool flag = false;
  // Each row: read its arguments, call the operation; a false answer adds
  // nothing and still succeeds.
  auto single = [&](bool ok) {
    if (ok) append_value(add_column(out, "", c.key_desc()), one);
    return true;
  };
  auto many = [&](bool ok) {
    if (ok) list_to_column(list, add_column(out, "", c.key_desc()));
    return true;
  };
  auto number = [&](bool ok) {
    if (ok) append_value(add_column(out, "", u64_desc), n);
    return true;
  };
  auto key1 = [&] { return read_arg(a, &k1); };
  auto keys = [&] { return read_arg(a, &k1) && read_arg(b, &k2); };
  auto count1 = [&] { return read_arg(a, &n); };
  uint64_t from = 0, to = 0;

  switch (w) {
    case word::all: return many(c.get_all(&list));
    case word::count: return number(c.get_count(&n));
    case word::con_type: append_text(add_column(out, "", text_desc), c.kind_name()); return true;
    case word::key_type: append_text(add_column(out, "", text_desc), type_name(c.key_desc())); return true;
    case word::val_type: append_text(add_column(out, "", text_desc), type_name(c.val_desc())); return true;
    case word::contain:
    case word::ucontain: {
      if (!key1()) return false;
      // Only string tries answer; every other container says no.
      if constexpr (std::is_same_v<K, xstring>) {
        const bool ok = w == word::contain ? c.get_contains(k1, &flag) : c.get_contains_nocase(k1, &flag);
        if (ok) append_value(add_column(out, "", u08_col_desc), static_cast<uint8_t>(flag ? 1 : 0));
      }
      return true;
    }
    case word::equal: return key1() && many(c.get_eq(k1, &list));
    case word::first: return single(c.get_first(&one));
    case word::first_n: return count1() && many(c.get_first_n(n, &list));
    case word::gt: return key1() && many(c.get_gt(k1, &list));
    case word::ge: return key1() && many(c.get_ge(k1, &list));
    case word::lt: return key1() && many(c.get_lt(k1, &list));
    case word::le: return key1() && many(c.get_le(k1, &list));
    case word::index: return key1() && number(c.get_index(k1, &n));
    case word::last: return single(c.get_last(&one));
    case word::le_ge: return keys() && many(c.get_le_ge(k1, k2, &list));
    case word::le_gt: return keys() && many(c.get_le_gt(k1, k2, &list));
    case word::lt_ge: return keys() && many(c.get_lt_ge(k1, k2, &list));
    case word::lt_gt: return keys() && many(c.get_lt_gt(k1, k2, &list));
    case word::last_n: return count1() && many(c.get_last_n(n, &list));
    case word::min: return single(c.get_min(&one));
    case word::max: return single(c.get_max(&one));
    case word::min_n: return count1() && many(c.get_min_n(n, &list));
    case word::max_n: return count1() && many(c.get_max_n(n, &list));
    case word::nth: return count1() && single(c.get_nth(n, &one));
    case word::pos: {
      if (!key1()) return false;
      return number(c.get_pos(k1, &n));
    }
    case word::pos_n:
    case word::pos_p: {
      uint64_t h;
      if (!read_arg(a, &h)) return false;
      return number(w == word::pos_n ? c.get_next_pos(h, &n) : c.get_prev_pos(h, &n));
    }
    case word::rank: return key1() && number(c.get_rank(k1, &n));
    case word::range:
      if (!read_arg(a, &from) || !read_arg(b, &to)) return false;
      return many(c.get_range(from, to, &list));
    case word::value: {
      if (!key1()) return false;
      value_list_box values;
      if (!values.make(c.value_type())) return fail(failure::refused);
      if (c.get_value(k1, values->ref())) values->to_column(add_column(out, "", c.val_desc()));
      return true;
    }
    case word::val: {
      uint64_t h;
      if (!read_arg(a, &h)) return false;
      return single(c.get_at_pos(h, &one));
    }
    case word::none:
    case word::key: return true;
  }
  return true;
}

}  // namespace

bool get_cmd(const ab_adt& c, std::string_view w, std::string_view a, std::string_view b, datas* out) {
  if (!takes_element_commands(c)) return fail(failure::placeholder, c.kind_name().data());
  const word kind_of_word = classify_get(w);
  return with_adt(c, [&](const auto& typed) { return get_typed(typed, kind_of_word, a, b, out); });
}

}  // namespace nosql_db
