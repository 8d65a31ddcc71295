// Asking for memory ahead of its use: the one place the library calls the
// compiler's prefetch, for a walk that knows the next node or string before
// it reads it, and for a tree descent that knows a whole node at once.
#pragma once

#include <cstdint>

namespace nosql_db {

// Asks for the cache line holding p (null is allowed and does nothing).
inline void prefetch([[maybe_unused]] const void* p) noexcept {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#endif
}

// Asks for every 64-byte cache line of the Bytes bytes from p at once.
template <uint32_t Bytes>
inline void prefetch_lines([[maybe_unused]] const void* p) noexcept {
#if defined(__GNUC__)
  const char* b = static_cast<const char*>(p);
  for (uint32_t off = 0; off < Bytes; off += 64) __builtin_prefetch(b + off);
#endif
}

}  // namespace nosql_db
