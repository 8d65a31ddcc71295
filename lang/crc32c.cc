// CRC-32C: the reflected polynomial 0x82F63B78, initial value and final
// value inverted (so crc32c("123456789") is 0xE3069283).
#include "lang/crc32c.h"

#include <array>
#include <cstring>

namespace nosql_db {
namespace {

constexpr uint32_t poly = 0x82F63B78u;

consteval std::array<uint32_t, 256> make_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ poly : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> table = make_table();

uint32_t by_table(uint32_t c, const unsigned char* p, uint64_t n) noexcept {
  for (uint64_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c;
}

#if defined(__x86_64__)
[[gnu::target("sse4.2")]] uint32_t by_instruction(uint32_t c, const unsigned char* p, uint64_t n) noexcept {
  uint64_t c64 = c;
  for (; n >= 8; n -= 8, p += 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    c64 = __builtin_ia32_crc32di(c64, w);
  }
  c = static_cast<uint32_t>(c64);
  for (; n > 0; --n, ++p) c = __builtin_ia32_crc32qi(c, *p);
  return c;
}
bool have_instruction() noexcept {
  static const bool have = (__builtin_cpu_init(), __builtin_cpu_supports("sse4.2"));
  return have;
}
#endif

}  // namespace

uint32_t crc32c_extend(uint32_t crc, const void* p, uint64_t n) noexcept {
  const auto* b = static_cast<const unsigned char*>(p);
  uint32_t c = ~crc;
#if defined(__x86_64__)
  if (have_instruction()) return ~by_instruction(c, b, n);
#endif
  return ~by_table(c, b, n);
}

}  // namespace nosql_db
