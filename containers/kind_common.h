// Helpers shared by the kind implementations (not part of the interface).
#pragma once

#include "containers/base/prefetch.h"
#include "containers/container.h"
#include "containers/hold.h"
#include "lang/codec.h"

namespace nosql_db {

// The common part of every save: kind length, kind word, key type, value
// type.
// Format: docs/FORMATS.md, "Container record".
inline void write_header(dump_out& out, const ab_adt& c) {
  out.put_text(c.kind_name());
  out.put_desc(c.key_desc());
  out.put_desc(c.val_desc());
}

// True when v carries a value of type V.
template <class V>
const V* value_as(value_ref v) noexcept {
  return v.type == scalar_traits<V>::id ? static_cast<const V*>(v.p) : nullptr;
}
template <class V>
elem_array<V>* value_list_as(value_list_ref v) noexcept {
  return v.type == scalar_traits<V>::id ? static_cast<elem_array<V>*>(v.list) : nullptr;
}

// Assigns x to every element of [b, e) with no partial result: string
// buffers are grown in a first pass (which may throw without changing any
// content), then assigned in a second that cannot fail.
template <class T>
void fill_all(T* b, T* e, const T& x) {
  if constexpr (std::is_same_v<T, xstring>) {
    for (T* p = b; p != e; ++p) p->reserve(x.size());
  }
  for (T* p = b; p != e; ++p) *p = x;
}

// Reads a body's element count, then each element, handing it to add.
// False on a short or damaged body; elements read before stay added.
// reserve(n) runs once with the count, which is already bounded by the
// bytes left in the file.
template <class K, class Add, class Reserve>
bool load_elements(dump_in& in, Add&& add, Reserve&& reserve) {
  uint64_t n;
  if (!in.template get_count<K>(&n)) return false;
  reserve(n);
  K v{};
  for (uint64_t i = 0; i < n; ++i) {
    if (!in.get_elem(&v)) return false;
    add(v);
  }
  return true;
}
template <class K, class Add>
bool load_elements(dump_in& in, Add&& add) {
  return load_elements<K>(in, add, [](uint64_t) {});
}

// Appends a body's elements to an array, as push_back of each would.
// Fixed-width elements are read straight into the array in one read; on a
// short body the array keeps its old size.
template <class K>
bool load_array(dump_in& in, elem_array<K>& a) {
  if constexpr (std::is_same_v<K, xstring>) {
    return load_elements<K>(in, [&](const K& v) { a.push_back(v); }, [&](uint64_t n) { a.reserve(a.size() + n); });
  } else {
    uint64_t n;
    if (!in.template get_count<K>(&n)) return false;
    const uint64_t old = a.size();
    a.resize(old + n);  // n * sizeof(K) is within the file's remaining bytes
    if (in.get_bytes(a.data() + old, n * sizeof(K))) return true;
    a.resize(old);
    return false;
  }
}

// Asks for the bytes of a string element ahead of their use (a walk over
// many elements); other types live in the node itself.
inline constexpr uint64_t prefetch_distance = 8;
template <class T>
inline void prefetch_text([[maybe_unused]] const T& x) noexcept {
  if constexpr (std::is_same_v<T, xstring>) prefetch(x.data());
}

// Value descriptor of u08, which the single-type kinds report.
inline constexpr type_desc u08_desc = scalar_traits<uint8_t>::desc;

}  // namespace nosql_db
