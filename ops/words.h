// Sub-command words of the get, set and delete commands.
//
// A word is recognised by its first byte and, where needed, its length and
// one or two further bytes, never by a full comparison: "gte" is ge, "firstx"
// matches nothing. Each command has its own table of rows.
#pragma once

#include <cstdint>
#include <string_view>

namespace nosql_db {

// The four element command families, and the rows their words choose.
// DO NOT RENUMBER: journals store both (docs/FORMATS.md, "Journal
// records"); new rows go at the end.
enum class element_cmd : uint8_t { get, insert, set, del };

enum class word : uint8_t {
  none, all, count, con_type, contain, equal, first, first_n, gt, ge, index, key_type, lt, le, last,
  le_ge, le_gt, lt_ge, lt_gt, last_n, min, max, min_n, max_n, nth, pos, pos_n, pos_p, rank, range,
  ucontain, val_type, value, val,
  key,          // the insert command's insertion by key, with a value (or none)
  key_default,  // the insert command's insertion by key with the default value
};
// The rows a word table has (for tables indexed by word).
inline constexpr int word_count = static_cast<int>(word::key_default) + 1;
static_assert(static_cast<int>(element_cmd::del) == 3 && static_cast<int>(word::equal) == 5 &&
                  static_cast<int>(word::le_ge) == 15 && static_cast<int>(word::range) == 29 &&
                  static_cast<int>(word::key_default) == 35,
              "row codes are part of the journal format");

word classify_get(std::string_view w) noexcept;
word classify_set(std::string_view w) noexcept;
word classify_delete(std::string_view w) noexcept;

}  // namespace nosql_db
