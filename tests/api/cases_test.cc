// Command tables: every file tests/cases/*.cases runs, line by line, against
// a store of its own, through the dispatcher as a host's exec would.
//
// A line is a command, " => ", and the answer it must give:
//   i 0 last 5 =>             succeeds with no column
//   g 0 all => 1 2 3          one column with these cells
//   g 0 all => ()             one column with no cells
//   k 0 => v | 0 | 0x0 | ...  several columns, " | " between them
//   g 0 nth 9 => !            fails
//   k 0 =>names skey | vkey   the answer's column names
// A row can run over several values: "* A B "C D": LINE" runs LINE once
// for each value (a value with spaces in double quotes), with {} in it
// replaced by the value:
//   * gt ge lt le: g 1 {} x => !
// A line without " => " must succeed; its answer is not checked. Several
// commands may share a line, joined by " ; ": all but the last must
// succeed, and the answer is the last one's. Cells are
// the texts print() shows; a string cell that is empty or holds a space,
// a quote, a backslash or a byte outside printable ASCII is written quoted,
// with \" \\ and \xHH escapes. Lines starting with // and blank lines are
// skipped. The last " => " on a line separates command and answer.
//
// Every file also runs on a twin store where each checked get, set,
// insert or delete runs as a prepared statement instead, its literal words
// replaced by placeholders and bound as typed values: it must give the
// same answer (or fail for the same reason), and the twin must end up
// holding what the store holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "api/statement.h"
#include "api/vox_nosql.hpp"
#include "lang/literal.h"
#include "lang/tokenizer.h"
#include "test_util.h"

namespace nosql_db {
namespace {

std::string cell_text(const datas_col& col, const datas_cell& cell) {
  xstring t;
  format_cell(col.desc, cell.value, cell.text(), &t);
  const std::string_view v = t.view();
  if (col.desc.cls != scalar_traits<xstring>::desc.cls) return std::string(v);
  const bool plain = !v.empty() && std::all_of(v.begin(), v.end(),
                                               [](char c) { return c > ' ' && c < 0x7f && c != '"' && c != '\\'; });
  if (plain) return std::string(v);
  std::string q = "\"";
  for (const char c : v) {
    if (c == '"' || c == '\\') {
      q += '\\';
      q += c;
    } else if (c >= ' ' && c < 0x7f) {
      q += c;
    } else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02x", static_cast<unsigned char>(c));
      q += b;
    }
  }
  return q + "\"";
}

// The answer as a case line writes it.
std::string answer(const datas& d, bool names) {
  std::string out;
  for (uint64_t c = 0; c < d.cols.size(); ++c) {
    if (c > 0) out += " | ";
    const datas_col& col = d.cols[c];
    if (names) {
      out += col.name.view();
      continue;
    }
    if (col.rows() == 0) out += "()";
    for (uint64_t r = 0; r < col.rows(); ++r) out += (r > 0 ? " " : "") + cell_text(col, *col.cell(r));
  }
  return out;
}

std::vector<std::string> case_files() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(NOSQL_CASES_DIR))
    if (e.path().extension() == ".cases") files.push_back(e.path().stem().string());
  std::sort(files.begin(), files.end());
  return files;
}

// The words of a get, set, insert or delete line that are literals.
std::vector<size_t> literal_words(const std::vector<std::string>& w) {
  const size_t n = w.size();
  std::vector<size_t> out;
  size_t first = 3;  // get, set and delete: the words after the sub-command word
  if (w[0][0] == 'i') first = n == 4 && (w[2][0] == 'f' || w[2][0] == 'l') ? 3 : n == 5 ? 3 : 2;
  for (size_t i = first; i < n && n <= 6; ++i) out.push_back(i);
  return out;
}

// Binds the literal `text` to placeholder i as a typed value; false when it
// does not read as the type its place takes.
bool bind_literal(statement& st, int i, std::string_view text) {
  return visit_scalar(st.placeholder_type(i), st.bind_int64(i, 0), [&]<class T>(type_tag<T>) {
    T v{};
    if (!parse_literal(text, &v)) return fail(failure::bad_argument);
    if constexpr (std::is_same_v<T, xstring>) return st.bind_text(i, v.view());
    else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) return st.bind_int64(i, v);
    else if constexpr (std::is_integral_v<T>) return st.bind_uint64(i, v);
    else if constexpr (std::is_floating_point_v<T>) return st.bind_double(i, v);
    else if constexpr (std::is_same_v<T, date>) return st.bind_date(i, v.year, v.month, v.day);
    else if constexpr (std::is_same_v<T, time>) return st.bind_time(i, v.hour, v.minute, v.second, v.nanosecond);
    else return st.bind_datetime(i, v.year, v.month, v.day, v.hour, v.minute, v.second, v.nanosecond);
  });
}

// The command as a prepared statement on the twin, with every literal
// word a placeholder: its answer, "!N" for a failure with code N, or the
// empty optional when the line is not one a statement runs.
std::optional<std::string> run_as_statement(store& twin, const std::string& command, bool names) {
  if (command.empty() || std::string_view("gsid").find(command[0]) == std::string_view::npos) return std::nullopt;
  token t[max_tokens];
  const int n = split_tokens(command.data(), static_cast<int64_t>(command.size()), t);
  // The words as written (a quoted one quoted again), the literals' texts
  // taken out for binding. A line that does not split is prepared as it is.
  std::vector<std::string> w, texts;
  for (int i = 0; i < n; ++i) w.push_back(t[i].quoted ? vox::quote(t[i].view()) : std::string(t[i].view()));
  for (size_t i : n ? literal_words(w) : std::vector<size_t>{}) {
    texts.emplace_back(t[i].view());
    w[i] = "?";
  }
  std::string line = n ? "" : command;
  for (const std::string& x : w) line += (line.empty() ? "" : " ") + x;
  const auto failed = [] { return "!" + std::to_string(static_cast<int>(last_failure())); };
  const std::unique_ptr<statement> st = statement::prepare(twin, line.data(), static_cast<int64_t>(line.size()));
  if (!st) return failed();
  for (int i = 1; i <= st->placeholders(); ++i)
    if (!bind_literal(*st, i, texts[static_cast<size_t>(i - 1)])) return failed();
  const datas* d = st->run();
  return d ? answer(*d, names) : failed();
}

// One line of a case file: its commands, then the answer check.
// `at` is "FILE.cases:LINE".
void run_line(testing_util::test_store& t, testing_util::test_store& twin, const std::string& line,
              const std::string& at) {
  const size_t arrow = line.rfind(" =>");
  std::string command = line.substr(0, arrow);
  // Commands before the last " ; " set the scene: each must succeed.
  for (size_t semi; (semi = command.find(" ; ")) != std::string::npos; command.erase(0, semi + 3)) {
    const std::string first = command.substr(0, semi);
    ASSERT_TRUE(t.run(first)) << at << ": " << first << " failed";
    twin.run(first);
  }
  ASSERT_EQ(line.find(" ; * "), std::string::npos) << at << ": a value row starts its line";
  std::string want;
  bool names = false, checked = arrow != std::string::npos;
  if (checked) {
    want = line.substr(arrow + 3);
    if (want.rfind("names", 0) == 0) {
      names = true;
      want.erase(0, 5);
    }
    if (!want.empty() && want[0] == ' ') want.erase(0, 1);
  }
  SCOPED_TRACE(testing::Message() << at << ": " << command);
  const auto d = t.run(command);
  const failure why = last_failure();
  const std::optional<std::string> as_statement = run_as_statement(twin.s, command, names);
  if (!as_statement) {
    twin.run(command);
  } else if (!d) {
    // A literal that does not read as its type cannot be bound either. A
    // statement whose word the kind does not answer (or no row has) is
    // refused at prepare, before any value, where exec may first meet a
    // literal it cannot read.
    const std::string code = "!" + std::to_string(static_cast<int>(why));
    const bool word_first = why == failure::bad_argument && (*as_statement == "!20" || *as_statement == "!21");
    EXPECT_TRUE(*as_statement == code || word_first) << "as a statement: " << *as_statement << ", exec: " << code;
  } else if (!checked) {
    // Not checked: the answer may hold a list handle, which is the store's own.
  } else if (as_statement->starts_with("!")) {
    // A get whose word the kind does not answer is refused at prepare.
    const bool unanswered = d->cols.empty() && (*as_statement == "!20" || *as_statement == "!21");
    EXPECT_TRUE(unanswered) << "as a statement: " << *as_statement;
  } else {
    EXPECT_EQ(*as_statement, answer(*d, names)) << "as a statement";
  }
  if (checked && want == "!") {
    EXPECT_EQ(d, nullptr) << "succeeded with: " << (d ? answer(*d, false) : "");
    return;
  }
  ASSERT_NE(d, nullptr) << "failed";
  if (checked) {
    EXPECT_EQ(answer(*d, names), want);
  }
}

class Cases : public testing::TestWithParam<std::string> {};

TEST_P(Cases, Run) {
  const std::string path = std::string(NOSQL_CASES_DIR) + "/" + GetParam() + ".cases";
  std::ifstream in(path);
  ASSERT_TRUE(in) << path;
  testing_util::test_store t, twin;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    if (text.empty() || text.starts_with("//")) continue;
    std::vector<std::string> lines{text};
    if (text.starts_with("* ")) {
      const size_t colon = text.find(": ");
      ASSERT_NE(colon, std::string::npos) << GetParam() << ".cases:" << number;
      std::istringstream values(text.substr(2, colon - 2));
      const std::string row = text.substr(colon + 2);
      lines.clear();
      for (std::string v; values >> std::quoted(v);) {
        std::string l = row;
        for (size_t at; (at = l.find("{}")) != std::string::npos;) l.replace(at, 2, v);
        lines.push_back(l);
      }
    }
    for (const std::string& line : lines) {
      run_line(t, twin, line, GetParam() + ".cases:" + std::to_string(number));
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_EQ(testing_util::snapshot(twin.s), testing_util::snapshot(t.s)) << "the twin ran as statements";
}

INSTANTIATE_TEST_SUITE_P(Commands, Cases, testing::ValuesIn(case_files()),
                         [](const testing::TestParamInfo<std::string>& i) { return i.param; });

}  // namespace
}  // namespace nosql_db
