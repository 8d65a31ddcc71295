// Why a container operation of the insert, set or delete command answered
// false, as the command sees it. Container operations answer a plain
// false; the command knows which row it ran, which kinds answer that row,
// and what a refusal of that row means (an empty container, a position out
// of range, a dead handle, an absent or present key), and records that.
// The re-keying rows of set also look at what they selected (no key
// matched, or the new key is what the kind refused). Where a row can be
// refused for reasons the command cannot tell apart, it records the general
// "refused".
//
// Only failure paths come here; nothing is looked at on success.
#pragma once

#include <cstdint>

#include "containers/base/direct_slots.h"
#include "containers/container.h"
#include "lang/failure.h"
#include "ops/words.h"

namespace nosql_db {

// Whether kind k answers row w of cmd. The rows of the insert command are
// word::key and key_default (insertion by key), first, last, nth and val.
bool answers(element_cmd cmd, word w, kind k) noexcept;

// Records why row w of cmd answered false on c and returns false: the kind
// does not answer the row; a NaN offered as a key to an ordered kind
// (nan_key); an empty container where the row needs elements; or the
// row's own refusal.
[[gnu::cold]] bool refused(const ab_adt& c, element_cmd cmd, word w, bool nan_key = false) noexcept;

// refused() for the re-keying rows of the set command (equal, the key
// ranges, min_n and max_n), told whether the row's selection held no
// element: then no key matched (a count of 0 selected none: out of range).
// A selection that a kind still refused: a map's new key belongs to
// another entry, a hash kind's new key lies beyond the buckets, a set's
// selection holds more than one key (the general refusal).
[[gnu::cold]] bool rekey_refused(const ab_adt& c, word w, bool nan_key, bool selected_none) noexcept;

// refused() for the insertion by key, which also knows the hash kinds'
// bucket range and which kinds keep every key only once.
template <class K>
[[gnu::cold]] bool key_insert_refused(const adt<K>& c, const K& key) noexcept {
  const kind k = c.kind_id();
  if (!answers(element_cmd::insert, word::key, k) || is_nan(key))
    return refused(c, element_cmd::insert, word::key, is_nan(key));
  if constexpr (is_integer_v<K>) {
    if (k == kind::hashmap || k == kind::hashtable) {
      // A table holds as many slots as its count says.
      return fail(slot_of<K>::fits(key, c.size()) ? failure::key_present : failure::beyond_buckets);
    }
  }
  bool unique = k == kind::set || k == kind::map;
  if constexpr (std::is_same_v<K, xstring>) unique = unique || (k == kind::trie && !key.empty());
  // The other kinds keep repeated keys; they refuse only a key of a type
  // they were not made to take.
  return fail(unique ? failure::key_present : failure::refused);
}

}  // namespace nosql_db
