// The create and clear commands.
#pragma once

#include <cstdint>
#include <string_view>

#include "lang/result_set.h"
#include "catalog/store.h"
#include "lang/tokenizer.h"

namespace nosql_db {

// "c KIND T [NAME]", "c map K V [NAME]", "c hashmap K V BUCKETS [NAME]", ...
// from its words t[0..n), 2 <= n <= max_tokens. Adds one row (vkey,
// vkey(hex)) to out and puts the new container's vkey in *vkey; on failure
// records why. REQUIRES the exclusive store lock.
bool create_container(store& s, const token (&t)[max_tokens], int n, datas* out, uint64_t* vkey);

// Creation steps shared with the dump reader: takes the vkey at the head of
// the free list. Fails (false, nothing changed, the reason recorded) when no
// vkey is free, the name is in use, or the kind cannot be built over the
// types. *vkey gets the new container's vkey. REQUIRES the exclusive store
// lock.
bool create_one(store& s, kind k, scalar key, scalar value, uint64_t buckets, std::string_view name,
                datas* out, uint64_t* vkey);

// Destroys every container; the store is as freshly built.
// REQUIRES the exclusive store lock.
void clear_store(store& s) noexcept;

}  // namespace nosql_db
