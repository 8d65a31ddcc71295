// CRC-32C (Castagnoli), the checksum of the journal's records and of
// checkpoint files: computed with the processor's crc32 instruction where
// there is one, with a table otherwise; both give the same numbers.
#pragma once

#include <cstdint>
#include <string_view>

namespace nosql_db {

// Extends crc (0 for a fresh sum) over n bytes at p.
uint32_t crc32c_extend(uint32_t crc, const void* p, uint64_t n) noexcept;
inline uint32_t crc32c(const void* p, uint64_t n) noexcept { return crc32c_extend(0, p, n); }
inline uint32_t crc32c(std::string_view s) noexcept { return crc32c(s.data(), s.size()); }

}  // namespace nosql_db
