// The commands that are not element commands: erase and describe.
//
// Each returns true on success; false makes exec() return null, with the
// reason recorded where the failure was decided (lang/failure.h). Handlers
// print nothing. Callers hold the store lock in the command's mode: shared
// for describe, exclusive for erase.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "lang/result_set.h"
#include "catalog/store.h"

namespace nosql_db {

// The element commands (get, set, insert, delete) go through the front end
// of ops/command.h.

// "e REF", REF resolved to vkey: drops the container; *keep, when given,
// takes it over instead of its being destroyed. REQUIRES the exclusive
// store lock.
bool erase_cmd(store& s, uint64_t vkey, datas* out, std::unique_ptr<ab_adt>* keep = nullptr);
// "k REF", REF resolved to c at vkey; "k" (c null): every container.
bool describe_cmd(const store& s, const ab_adt* c, uint64_t vkey, datas* out);

}  // namespace nosql_db
