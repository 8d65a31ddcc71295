// Command entry: exec_cmd runs a line through the command table's front end
// (api/command_table.h), which chooses the command by the line's first byte
// and runs it under the store lock in the command's mode.
#pragma once

#include <cstdint>

#include "lang/result_set.h"
#include "catalog/store.h"

namespace nosql_db {

// Runs one line against s, appending to out. False on any failure; may
// throw std::bad_alloc, with every lock released.
bool exec_cmd(store& s, const char* line, int64_t len, datas* out);

}  // namespace nosql_db
