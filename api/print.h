// Result printing: a result set as a text table on standard output.
#pragma once

#include <cstdint>
#include <string_view>

#include "lang/result_set.h"

namespace nosql_db {

// Display width of UTF-8 text: printable ASCII counts 1, control bytes 0,
// every well-formed 2-, 3- or 4-byte sequence 2; the count stops at the
// first malformed or cut-off sequence.
uint64_t utf8_width(std::string_view s) noexcept;

// Renders the table exactly as print() writes it (empty for no columns).
void render_table(const datas& d, xstring* out);

}  // namespace nosql_db
