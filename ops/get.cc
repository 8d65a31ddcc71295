// The get command: one read operation, answered as at most one column.
#include "ops/command.h"
#include "ops/ops.h"

namespace nosql_db {
namespace {

constexpr type_desc u64_desc = scalar_traits<uint64_t>::desc;
constexpr type_desc u08_col_desc = scalar_traits<uint8_t>::desc;
constexpr type_desc text_desc = scalar_traits<xstring>::desc;

// Builds the answer of a get from the operation's result: nothing when
// the operation said no, otherwise one column.
template <class K>
class answer {
 public:
  answer(const adt<K>& c, datas* out) noexcept : c_(c), out_(out) {}
  bool one(bool ok, const K& x) {  // x by reference: read after the call
    if (ok) append_value(add_column(out_, "", c_.key_desc()), x);
    return true;
  }
  bool many(bool ok, const elem_array<K>& l) {
    if (ok) list_to_column(l, add_column(out_, "", c_.key_desc()));
    return true;
  }
  bool number(bool ok, const uint64_t& n) {  // n by reference: read after the call
    if (ok) append_value(add_column(out_, "", u64_desc), n);
    return true;
  }
  bool text(std::string_view t) {
    append_text(add_column(out_, "", text_desc), t);
    return true;
  }

 private:
  const adt<K>& c_;
  datas* out_;
};

// The rows that answer with a single element, a count or a name.
template <class K>
bool get_single(const adt<K>& c, word w, const arg_values& v, answer<K>& ans) {
  const K& k1 = v[slot_a].get<K>();
  K one{};
  uint64_t n = 0;
  switch (w) {
    case word::count: return ans.number(c.get_count(&n), n);
    case word::con_type: return ans.text(c.kind_name());
    case word::key_type: return ans.text(type_name(c.key_desc()));
    case word::val_type: return ans.text(type_name(c.val_desc()));
    case word::first: return ans.one(c.get_first(&one), one);
    case word::last: return ans.one(c.get_last(&one), one);
    case word::min: return ans.one(c.get_min(&one), one);
    case word::max: return ans.one(c.get_max(&one), one);
    case word::nth: return ans.one(c.get_nth(v[slot_a].get<uint64_t>(), &one), one);
    case word::val: return ans.one(c.get_at_pos(v[slot_a].get<uint64_t>(), &one), one);
    case word::index: return ans.number(c.get_index(k1, &n), n);
    case word::pos: return ans.number(c.get_pos(k1, &n), n);
    case word::rank: return ans.number(c.get_rank(k1, &n), n);
    case word::pos_n: return ans.number(c.get_next_pos(v[slot_a].get<uint64_t>(), &n), n);
    case word::pos_p: return ans.number(c.get_prev_pos(v[slot_a].get<uint64_t>(), &n), n);
    default: return true;
  }
}

// The rows that answer with a list of elements.
template <class K>
bool get_list(const adt<K>& c, word w, const arg_values& v, answer<K>& ans) {
  scratch_list<K> scratch;
  return ans.many(list_op(c, w, v, &scratch.l), scratch.l);
}

bool is_list_row(word w) noexcept {
  switch (w) {
    case word::all: case word::equal: case word::gt: case word::ge: case word::lt: case word::le:
    case word::le_ge: case word::le_gt: case word::lt_ge: case word::lt_gt: case word::first_n:
    case word::last_n: case word::min_n: case word::max_n: case word::range:
      return true;
    default:
      return false;
  }
}

template <class K>
bool get_typed(const adt<K>& c, const element_command& cmd, arg_values& v, datas* out, bool literals) {
  if (literals && !read_literals_as<K>(cmd, v)) return false;
  const word w = cmd.row;
  answer<K> ans(c, out);
  if (is_list_row(w)) return get_list(c, w, v, ans);
  if (w == word::contain || w == word::ucontain) {
    // Only string tries answer; every other container says nothing.
    if constexpr (std::is_same_v<K, xstring>) {
      bool flag = false;
      const K& k1 = v[slot_a].get<K>();
      const bool ok = w == word::contain ? c.get_contains(k1, &flag) : c.get_contains_nocase(k1, &flag);
      if (ok) append_value(add_column(out, "", u08_col_desc), static_cast<uint8_t>(flag ? 1 : 0));
    }
    return true;
  }
  if (w == word::value) {
    value_list_box values;
    if (!values.make(c.value_type())) return fail(failure::refused);
    if (c.get_value(v[slot_a].get<K>(), values->ref())) values->to_column(add_column(out, "", c.val_desc()));
    return true;
  }
  return get_single(c, w, v, ans);
}

}  // namespace

bool run_get(const element_command& cmd, arg_values& v, datas* out, bool literals) {
  return with_adt(static_cast<const ab_adt&>(*cmd.c),
                  [&](const auto& typed) { return get_typed(typed, cmd, v, out, literals); });
}

}  // namespace nosql_db
