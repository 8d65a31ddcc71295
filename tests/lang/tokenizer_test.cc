// Tokenizer: token boundaries, quoting, escapes and the six-token limit
// (exec_test.cc gives it lengths of 0 and less).
#include "lang/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace nosql_db {
namespace {

using v = std::vector<std::string>;

TEST(Tokenizer, SplitsLinesAndDecodesEscapes) {
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
      // Escapes, decoded.
      {"i x \"\\u00e9\"", {"i", "x", "\xC3\xA9"}},
      {"i x \"\\U0001F600\"", {"i", "x", "\xF0\x9F\x98\x80"}},
      {"i x \"\\x41\"", {"i", "x", "A"}},
      {"i x \"\\xg1\"", {"i", "x", std::string(1, '\0')}},
      {"i x \"a\\qb\"", {"i", "x", "ab"}},
      {"i x \"\\\"q\\\" \\\\ \\t\\n\"", {"i", "x", "\"q\" \\ \t\n"}},
      {"i x \"\\u0041\\u07FF\"", {"i", "x", "A\xDF\xBF"}},
      {"i x \"\\uzz41\"", {"i", "x", "A"}},
      {"i x \"a\\U00110000bc\"", {"i", "x", "a"}},
      {"i x \"\\U0010FFFF\"", {"i", "x", "\xF4\x8F\xBF\xBF"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.line));
    EXPECT_EQ(testing_util::tokens_of(c.line), c.want);
  }
}

}  // namespace
}  // namespace nosql_db
