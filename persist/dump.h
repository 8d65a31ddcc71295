// The dump (b) and read (r) commands.
#pragma once

#include <cstdint>

#include "catalog/store.h"

namespace nosql_db {

// "b PATH": writes every container to a new file. REQUIRES the store lock
// (shared).
bool write_dump(const store& s, const char* line, int64_t len);
// "r PATH": replaces the store's contents with a dump file. REQUIRES the
// exclusive store lock.
bool read_dump(store& s, const char* line, int64_t len);

}  // namespace nosql_db
