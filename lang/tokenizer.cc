// Tokenizer and escape decoding.
#include "lang/tokenizer.h"

#include <array>

#include "lang/failure.h"

namespace nosql_db {
namespace {

// Simple escapes for the bytes 0x20..0x77; '!' marks "no simple escape".
consteval std::array<char, 0x58> make_escape_table() {
  std::array<char, 0x58> t{};
  for (auto& c : t) c = '!';
  t['"' - 0x20] = '"';
  t['\'' - 0x20] = '\'';
  t['\\' - 0x20] = '\\';
  t['a' - 0x20] = '\a';
  t['b' - 0x20] = '\b';
  t['f' - 0x20] = '\f';
  t['n' - 0x20] = '\n';
  t['r' - 0x20] = '\r';
  t['t' - 0x20] = '\t';
  t['v' - 0x20] = '\v';
  return t;
}
constexpr auto escape_table = make_escape_table();

unsigned hex_digit(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 0;
}
bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Appends code point cp (at most 0x10FFFF) as UTF-8.
void append_utf8(xstring* out, uint32_t cp) {
  char b[4];
  int n;
  if (cp <= 0x7F) {
    b[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp <= 0x7FF) {
    b[0] = static_cast<char>(0xC0 | (cp >> 6));
    b[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp <= 0xFFFF) {
    b[0] = static_cast<char>(0xE0 | (cp >> 12));
    b[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    b[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    b[0] = static_cast<char>(0xF0 | (cp >> 18));
    b[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    b[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    b[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out->append(b, static_cast<uint64_t>(n));
}

}  // namespace

void unescape_into(xstring* out, const char* p, uint64_t n) {
  uint64_t i = 0;
  while (i < n) {
    const char c = p[i];
    if (c != '\\') {
      // Copy the run of plain bytes at once.
      uint64_t j = i + 1;
      while (j < n && p[j] != '\\') ++j;
      out->append(p + i, j - i);
      i = j;
      continue;
    }
    if (i + 1 >= n) return;  // a lone trailing backslash decodes to nothing
    const char e = p[i + 1];
    i += 2;
    // The tokenizer guarantees the digits of \u, \U and \x lie inside the
    // content; the bounds checks below keep a direct caller safe too.
    auto read_hex = [&](unsigned count, uint32_t* v) {
      *v = 0;
      for (unsigned k = 0; k < count; ++k, ++i) *v = *v * 16 + (i < n ? hex_digit(p[i]) : 0);
    };
    if (e == 'u') {
      uint32_t cp;
      read_hex(4, &cp);
      append_utf8(out, cp);
    } else if (e == 'U') {
      uint32_t cp;
      read_hex(8, &cp);
      if (cp > 0x10FFFF) return;  // ends the decoding
      append_utf8(out, cp);
    } else if (e == 'x') {
      const bool ok = i + 1 < n && is_hex(p[i]) && is_hex(p[i + 1]);
      const char b = ok ? static_cast<char>(hex_digit(p[i]) * 16 + hex_digit(p[i + 1])) : 0;
      out->push_back(b);
      i += 2;
    } else {
      const auto u = static_cast<unsigned char>(e);
      if (u >= 0x20 && u <= 0x77 && escape_table[u - 0x20] != '!') out->push_back(escape_table[u - 0x20]);
    }
  }
}

int split_tokens(const char* line, int64_t len, token (&toks)[max_tokens]) {
  if (len <= 0) {
    // The line has no bytes to read: one empty token at its start.
    toks[0].text = line;
    toks[0].length = 0;
    toks[0].quoted = false;
    return 1;
  }
  const uint64_t n = static_cast<uint64_t>(len);
  // A quote can only open a token after a space, so not at the very start.
  if (line[0] == '"') return fail(failure::quote_in_word), 0;
  int count = 0;
  uint64_t i = 0;
  while (i < n) {
    // After the sixth token, any byte but the one that ended it is too many.
    if (count == max_tokens) return fail(failure::too_many_words), 0;
    if (line[i] == ' ') {
      ++i;
      continue;
    }
    if (line[i] == '"') {
      // Quoted: up to the closing quote, stepping over escapes whole.
      uint64_t j = i + 1;
      bool escapes = false;
      for (;;) {
        while (j < n && line[j] != '"' && line[j] != '\\') ++j;
        // No closing quote, or an escape whose bytes run past the end.
        if (j >= n) return fail(j > n ? failure::escape_past_end : failure::unterminated_quote), 0;
        if (line[j] == '"') break;
        escapes = true;
        const char e = j + 1 < n ? line[j + 1] : 0;
        j += e == 'u' ? 6 : e == 'U' ? 10 : e == 'x' ? 4 : 2;
      }
      token& t = toks[count++];
      t.quoted = true;
      if (escapes) {
        t.owned.clear();
        unescape_into(&t.owned, line + i + 1, j - i - 1);
        t.text = t.owned.data();
        t.length = t.owned.size();
      } else {
        t.text = line + i + 1;
        t.length = j - i - 1;
      }
      i = j + 1;
      continue;
    }
    // Bare: up to a space; a quote inside a bare word is an error.
    uint64_t j = i + 1;
    while (j < n && line[j] != ' ' && line[j] != '"') ++j;
    if (j < n && line[j] == '"') return fail(failure::quote_in_word), 0;
    toks[count].text = line + i;
    toks[count].length = j - i;
    toks[count].quoted = false;
    ++count;
    i = j + 1;  // past the space that ended it
  }
  if (count == 0) fail(failure::empty_line);  // only spaces
  return count;
}

}  // namespace nosql_db
