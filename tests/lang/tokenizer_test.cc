// Tokenizer: token boundaries, quoting, escapes and the six-token limit
// (exec_test.cc gives it lengths of 0 and less).
#include "lang/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nosql_db {
namespace {

// Splits a line; returns the tokens, or {"<fail>"} for a failed split.
std::vector<std::string> split(std::string_view line) {
  token t[max_tokens];
  const int n = split_tokens(line.data(), static_cast<int64_t>(line.size()), t);
  if (n == 0) return {"<fail>"};
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.emplace_back(t[i].view());
  return out;
}

using v = std::vector<std::string>;

TEST(Tokenizer, SplitsLines) {
  struct {
    std::string_view line;
    v want;
  } cases[] = {
      {"g 0 all", {"g", "0", "all"}},
      {"g  0   all  ", {"g", "0", "all"}},
      {"a b c d e f", {"a", "b", "c", "d", "e", "f"}},
      {"a b c d e f ", {"a", "b", "c", "d", "e", "f"}},
      {"a b c d e f  ", {"<fail>"}},
      {"a b c d e f g", {"<fail>"}},
      {"a b c d e \"f\"", {"a", "b", "c", "d", "e", "f"}},
      {"a b c d e \"f\" ", {"<fail>"}},
      {"i x \"a b\"c", {"i", "x", "a b", "c"}},
      {"i x a\"b\"", {"<fail>"}},
      {"i x \"open", {"<fail>"}},
      {"i x \"ends in escape\\\"", {"<fail>"}},
      {"i x \"\\u00", {"<fail>"}},
      {"   ", {"<fail>"}},
      {"\"g\" 0", {"<fail>"}},
      {"i\tx y\r", {"i\tx", "y\r"}},
      {"k \"\"", {"k", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line));
    EXPECT_EQ(split(c.line), c.want);
  }
}

TEST(Tokenizer, DecodesEscapes) {
  struct {
    std::string_view line;
    std::string want;
  } cases[] = {
      {"i x \"\\u00e9\"", "\xC3\xA9"},
      {"i x \"\\U0001F600\"", "\xF0\x9F\x98\x80"},
      {"i x \"\\x41\"", "A"},
      {"i x \"\\xg1\"", std::string(1, '\0')},
      {"i x \"a\\qb\"", "ab"},
      {"i x \"\\\"q\\\" \\\\ \\t\\n\"", "\"q\" \\ \t\n"},
      {"i x \"\\u0041\\u07FF\"", "A\xDF\xBF"},
      {"i x \"\\uzz41\"", "A"},
      {"i x \"a\\U00110000bc\"", "a"},
      {"i x \"\\U0010FFFF\"", "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line));
    const auto t = split(c.line);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[2], c.want);
  }
}

}  // namespace
}  // namespace nosql_db
