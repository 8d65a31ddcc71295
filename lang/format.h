// Text forms of typed values, as print and the shell show them.
#pragma once

#include <cstdint>
#include <string_view>

#include "lang/scalar.h"

namespace nosql_db {

// Appends the text of one value held as result-cell bytes: value points at
// the cell's 11 value bytes (little-endian number or packed calendar
// record), text at its string bytes. Classes above 5 give no text.
void format_cell(type_desc d, const uint8_t* value, std::string_view text, xstring* out);

// "0x" and lowercase hexadecimal digits without leading zeros.
void hex_text(uint64_t v, xstring* out);

}  // namespace nosql_db
