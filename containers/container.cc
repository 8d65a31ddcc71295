// Kind words and the common container header.
#include "containers/container.h"

#include <atomic>
#include <iterator>

namespace nosql_db {
namespace {

// Format: docs/FORMATS.md, "Kind words".
constexpr std::string_view kind_words[] = {
#define NOSQL_KIND_WORD(e, word) word,
    NOSQL_FOR_EACH_KIND(NOSQL_KIND_WORD)
#undef NOSQL_KIND_WORD
};
static_assert(std::size(kind_words) == kind_count);

}  // namespace

std::string_view kind_word(kind k) noexcept {
  const auto i = static_cast<unsigned>(k);
  return i < kind_count ? kind_words[i] : std::string_view();
}

bool kind_from_word(std::string_view w, kind* out) noexcept {
  for (unsigned i = 0; i < kind_count; ++i) {
    if (!is_placeholder_kind(static_cast<kind>(i)) && kind_words[i] == w) {
      *out = static_cast<kind>(i);
      return true;
    }
  }
  return false;
}

ab_adt::ab_adt(kind k, scalar key_type, type_desc key_desc, type_desc val_desc) noexcept
    : kind_(k), key_type_(key_type), key_desc_(key_desc), val_desc_(val_desc), serial_(next_serial()) {}

uint64_t ab_adt::next_serial() noexcept {
  static std::atomic<uint64_t> counter{0};
  return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

ab_adt::~ab_adt() = default;

}  // namespace nosql_db
