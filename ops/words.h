// Sub-command words of the get, set and delete commands.
//
// A word is recognised by its first byte and, where needed, its length and
// one or two further bytes, never by a full comparison: "gte" is ge, "firstx"
// matches nothing. Each command has its own table of rows.
#pragma once

#include <string_view>

namespace nosql_db {

enum class word {
  none, all, count, con_type, contain, equal, first, first_n, gt, ge, index, key_type, lt, le, last,
  le_ge, le_gt, lt_ge, lt_gt, last_n, min, max, min_n, max_n, nth, pos, pos_n, pos_p, rank, range,
  ucontain, val_type, value, val,
  key  // the insert command's insertion by key (no position word)
};

word classify_get(std::string_view w) noexcept;
word classify_set(std::string_view w) noexcept;
word classify_delete(std::string_view w) noexcept;

}  // namespace nosql_db
