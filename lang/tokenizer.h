// Command tokenizer: splits one command line into at most six tokens.
//
// Tokens are separated by spaces. A token in double quotes may hold spaces
// and escapes (\" \' \\ \a \b \f \n \r \t \v, \xHH, \uHHHH, \UHHHHHHHH),
// decoded into the token's owned text; bare tokens, and quoted ones without
// escapes, are views into the line.
#pragma once

#include <cstdint>
#include <string_view>

#include "lang/failure.h"
#include "lang/xstring.h"

namespace nosql_db {

inline constexpr int max_tokens = 6;

// A quoted token with escapes decodes into its own `owned` string, often
// inside the object itself, so tokens stay where split_tokens filled them.
struct token {
  token() noexcept = default;
  token(const token&) = delete;
  token& operator=(const token&) = delete;

  const char* text = nullptr;  // into the line, or owned.data() (escapes decoded)
  uint64_t length = 0;
  bool quoted = false;  // written in double quotes
  xstring owned;        // decoded text of a quoted token with escapes

  std::string_view view() const noexcept {
    return text ? std::string_view(text, static_cast<size_t>(length)) : std::string_view();
  }
  // A reference token names a container by name when its quoted text is
  // non-empty.
  bool is_name() const noexcept { return quoted && length > 0; }
};

// Splits line[0, len) into toks[0..5]. Returns the token count, or 0 on
// failure (more than six tokens, a quote inside a bare word, an unterminated
// quote, a line of spaces only), with the reason recorded. A len of 0 or
// less gives one empty token without reading any byte. May throw
// std::bad_alloc (quoted tokens own their text).
int split_tokens(const char* line, int64_t len, token (&toks)[max_tokens]);

// True when n, a result of split_tokens, lies in [lo, hi]. Otherwise false,
// with the reason recorded (for 0, the tokenizer has recorded it).
inline bool token_count_ok(int n, int lo, int hi) noexcept {
  if (n >= lo && n <= hi) return true;
  if (n != 0) fail(failure::word_count);
  return false;
}

// Appends the decoded bytes of the quoted content [p, p + n) to out.
void unescape_into(xstring* out, const char* p, uint64_t n);

}  // namespace nosql_db
