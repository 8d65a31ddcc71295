// The exported entry point: lines the command tables cannot hold (NUL
// bytes, no line, non-positive lengths) and the shared empty result.
#include <gtest/gtest.h>

#include <string>

#include "api/vox_nosql.h"
#include "test_util.h"

namespace nosql_db {
namespace {

using testing_util::test_store;

// The rest of dispatch, references, create and describe are command
// tables (tests/cases/catalog.cases); these lines cannot be written there.
TEST(Exec, NulBytesNoLineAndNegativeLengths) {
  test_store t;
  ASSERT_TRUE(t.ok("c vector i32 v"));
  // NUL bytes are ordinary bytes: they never end a line early.
  for (const std::string& line : {std::string("g 0\0 count", 10), std::string("i 0 last 1\0", 11),
                                 std::string("c vector i3\0", 12), std::string("e 0\0", 4)}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(t.ok(line));
  }
  EXPECT_EQ(t.s.container_count(), 1u);
  // A negative length is one empty token, no byte read; through the
  // exported entry point and the library's own store.
  const char k = 'k';
  datas* d = exec(&k, -1);  // describe with one token: succeeds
  ASSERT_NE(d, nullptr);
  del_datas(d);
  const char g = 'g';
  EXPECT_EQ(exec(&g, -3), nullptr);
  EXPECT_EQ(exec(nullptr, 5), nullptr);
  EXPECT_EQ(exec("k", 0), nullptr);
}

TEST(Exec, ColumnlessSuccessesShareOneResultSet) {
  auto run = [](const std::string& l) { return exec(l.data(), static_cast<int32_t>(l.size())); };
  datas* c = run("c vector i32 \"shared_empty_probe\"");
  ASSERT_NE(c, nullptr);
  ASSERT_GT(cols_of(c), 0u);  // a create answers with its vkey
  del_datas(c);
  datas* a = run("i \"shared_empty_probe\" last 1");
  datas* b = run("i \"shared_empty_probe\" last 2");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(cols_of(a), 0u);
  EXPECT_EQ(rows_of(a), 0u);
  EXPECT_EQ(at(0, 0, a), nullptr);
  // Freeing it, even twice, leaves it usable for the next command.
  del_datas(a);
  del_datas(b);
  datas* g = run("g \"shared_empty_probe\" all");
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(rows_of(g), 2u);
  EXPECT_EQ(as_int32(at(1, 0, g)), 2);
  del_datas(g);
  EXPECT_EQ(cols_of(run("d \"shared_empty_probe\" all")), 0u);
  del_datas(run("e \"shared_empty_probe\""));
}

}  // namespace
}  // namespace nosql_db
