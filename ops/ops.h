// The element commands (get, set, insert, delete, erase, describe).
//
// Each returns true on success; false makes exec() return null, with the
// reason recorded where the failure was decided (lang/failure.h). Handlers
// print nothing. Callers hold the store lock in the command's mode: shared
// for get, set, insert, delete and describe, exclusive for erase.
#pragma once

#include <cstdint>
#include <string_view>

#include "lang/result_set.h"
#include "catalog/store.h"

namespace nosql_db {

// "g REF WORD [A [B]]": the container is resolved by the dispatcher.
bool get_cmd(const ab_adt& c, std::string_view word, std::string_view a, std::string_view b, datas* out);
// "s REF WORD [A [B]] NEW": the new value is always the last token.
bool set_cmd(ab_adt& c, std::string_view word, std::string_view a, std::string_view b, std::string_view v);
// "i REF X", "i REF K X", "i REF WORD X", "i REF WORD P X".
bool insert_cmd(const store& s, const char* line, int64_t len);
// "d REF WORD [A [B]]".
bool delete_cmd(const store& s, const char* line, int64_t len);
// "e REF": drops a container. REQUIRES the exclusive store lock.
bool erase_cmd(store& s, const char* line, int64_t len, datas* out);
// "k" or "k REF".
bool describe_cmd(const store& s, const char* line, int64_t len, datas* out);

// True for the thirteen kinds that take element commands (not for the
// placeholder hashmap and hashtable).
inline bool takes_element_commands(const ab_adt& c) noexcept {
  return c.kind_id() != kind::hashmap_not_allowed && c.kind_id() != kind::hashtable_not_allowed;
}

}  // namespace nosql_db
