// Create and clear: the form table of the create command, and the steps
// that build a container into the next free slot.
#include "catalog/create.h"

#include "lang/failure.h"
#include "lang/format.h"
#include "lang/literal.h"
#include "lang/tokenizer.h"

namespace nosql_db {

bool create_one(store& s, kind k, scalar key, scalar value, uint64_t buckets, std::string_view name,
                datas* out, uint64_t* vkey) {
  if (s.free_count() == 0) return fail(failure::store_full);
  uint64_t existing;
  if (!name.empty() && s.find_name(name, &existing)) return fail(failure::name_taken);
  std::unique_ptr<ab_adt> c = make_container(k, key, value, buckets);
  if (!c) return fail(failure::unknown_type);
  c->set_name(name);
  // Prepare the result before publishing, so a failure leaves no trace.
  const uint64_t v = s.free_head();
  if (out) {
    xstring hex;
    hex_text(v, &hex);
    append_value(add_column(out, "vkey", scalar_traits<uint64_t>::desc), v);
    append_value(add_column(out, "vkey(hex)", scalar_traits<xstring>::desc), hex);
  }
  s.add(std::move(c));
  *vkey = v;
  return true;
}

bool create_container(store& s, const token (&t)[max_tokens], int n, datas* out, uint64_t* vkey) {
  kind k;
  if (!kind_from_word(t[1].view(), &k)) return fail(failure::unknown_kind);
  std::string_view key_name, val_name = "u08", buckets, name;
  bool has_buckets = false;
  switch (k) {
    case kind::trie:
      if (n == 2) key_name = "string";
      else if (n == 3) key_name = t[2].view();
      else return fail(failure::word_count);
      break;
    case kind::vector: case kind::list: case kind::queue: case kind::heap: case kind::deque:
    case kind::multiset: case kind::set: case kind::stack:
      if (n != 3 && n != 4) return fail(failure::word_count);
      key_name = t[2].view();
      if (n == 4) name = t[3].view();
      break;
    case kind::hashtable:
      if (n != 4 && n != 5) return fail(failure::word_count);
      key_name = t[2].view();
      buckets = t[3].view();
      has_buckets = true;
      if (n == 5) name = t[4].view();
      break;
    case kind::map: case kind::multimap:
      if (n != 4 && n != 5) return fail(failure::word_count);
      key_name = t[2].view();
      val_name = t[3].view();
      if (n == 5) name = t[4].view();
      break;
    case kind::hashmap:
      if (n != 5 && n != 6) return fail(failure::word_count);
      key_name = t[2].view();
      val_name = t[3].view();
      buckets = t[4].view();
      has_buckets = true;
      if (n == 6) name = t[5].view();
      break;
    default:
      return fail(failure::unknown_kind);
  }
  const scalar key = parse_type_name(key_name);
  const scalar value = parse_type_name(val_name);
  if (key == scalar::none || value == scalar::none) return fail(failure::unknown_type);
  return create_one(s, k, key, value, has_buckets ? parse_size_argument(buckets) : 0, name, out, vkey);
}

void clear_store(store& s) noexcept { s.clear(); }

}  // namespace nosql_db
