// The dispatcher and the catalog commands: first-byte dispatch, token
// counts, references, create/clear/erase/describe and vkey reuse.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/vox_nosql.h"
#include "test_util.h"

namespace nosql_db {
namespace {

using testing_util::strings;
using testing_util::test_store;

TEST(Dispatch, RejectsMalformedLines) {
  test_store t;
  ASSERT_TRUE(t.ok("c vector i32 v"));
  const char* bad[] = {
      " g 0 count",       // a leading space names no command
      "x 0 count",        // no such command
      "g 0",              // too few tokens
      "g 0 nth 1 2 3",    // too many for get
      "s 0 all",          // too few for set
      "s 0 a b c d e",    // seven tokens
      "g 1 count",        // empty slot
      "g 1048576 count",  // beyond the slot table
      "g 99999999999999999999999 count",
      "g v count",        // a bare word is a number, and this one is not
      "g 26x count",
      "g \"nope\" count",  // unknown name
      "g 0 nth x",        // bad position
      "i 0 last \"open",  // unterminated quote
      "c",                // one-token create
      "c vectors i32",    // kind words match exactly
      "c Vector i32",
      "c vector i3",      // no such type
      "c trie string t",  // tries take no name
      "c map i32",        // maps need two types
      "e 0 1",
      "e 3x",
  };
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(t.ok(line));
  }
  // NUL bytes are ordinary bytes: they never end a line early.
  for (const std::string& line : {std::string("g 0\0 count", 10), std::string("i 0 last 1\0", 11),
                                 std::string("c vector i3\0", 12), std::string("e 0\0", 4)}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(t.ok(line));
  }
  EXPECT_FALSE(exec_cmd(t.s, nullptr, 5, nullptr));
  datas d;
  EXPECT_FALSE(exec_cmd(t.s, "g 0 count", 0, &d));
  // The store is as it was.
  EXPECT_EQ(t.col("k")[0], "v");
  EXPECT_EQ(t.s.container_count(), 1u);
}

TEST(Dispatch, CommandWordIsItsFirstByte) {
  test_store t;
  ASSERT_TRUE(t.ok("c vector i32 v"));
  ASSERT_TRUE(t.ok("insert 0 last 7"));
  EXPECT_EQ(t.col("g 0 count"), strings{"1"});
  EXPECT_EQ(t.col("gx 0 count"), strings{"1"});
  EXPECT_EQ(t.col("get 0 count"), strings{"1"});
  EXPECT_EQ(t.col("g 0 wxyz"), strings{"<none>"});
}

TEST(Dispatch, ReferencesByNumberAndName) {
  test_store t;
  for (int i = 0; i < 27; ++i) ASSERT_TRUE(t.ok("c vector i32"));
  ASSERT_TRUE(t.ok("c vector i32 books"));
  ASSERT_TRUE(t.ok("i 26 last 5"));
  for (const char* ref : {"26", "0x1a", "0X1A", "+26", " 26"}) {
    SCOPED_TRACE(ref);
    token tok;
    tok.text = ref;
    tok.length = std::strlen(ref);
    uint64_t v = 0;
    EXPECT_TRUE(find_container_id(t.s, tok, false, &v));
    EXPECT_EQ(v, 26u);
  }
  EXPECT_EQ(t.col("g \"books\" count"), strings{"0"});
  EXPECT_EQ(t.col("g \"\" count"), strings{"0"});  // a quoted empty reference is vkey 0
  EXPECT_EQ(t.col("g 27 count"), strings{"0"});
  EXPECT_FALSE(t.ok("g books count"));
}

TEST(Create, VkeysNamesAndForms) {
  test_store u;
  EXPECT_EQ(testing_util::cells_of(*u.run("c vector i32")), (std::vector<strings>{{"0"}, {"0x0"}}));
  EXPECT_EQ(testing_util::cells_of(*u.run("c vector u08 named")), (std::vector<strings>{{"1"}, {"0x1"}}));
  EXPECT_FALSE(u.ok("c vector i32 named"));  // the name is taken, whatever the kind
  EXPECT_EQ(u.s.container_count(), 2u);
  // Erase gives the vkey back first; clear starts again from 0.
  ASSERT_TRUE(u.ok("c vector i32"));
  ASSERT_TRUE(u.ok("c vector i32"));
  EXPECT_EQ(u.col("e 1"), strings{"1"});
  EXPECT_FALSE(u.ok("g 1 count"));
  EXPECT_EQ(u.col("c vector i32 again")[0], "1");
  EXPECT_EQ(u.col("e 0x3")[0], "3");
  EXPECT_EQ(u.col("e 2")[0], "2");
  EXPECT_EQ(u.col("c vector i32")[0], "2");
  EXPECT_EQ(u.col("c vector i32")[0], "3");
  EXPECT_EQ(u.col("c vector i32")[0], "4");
  EXPECT_EQ(u.col("e \"again\"")[0], "1");
  EXPECT_FALSE(u.ok("e \"again\""));
  EXPECT_TRUE(u.ok("c vector i32 again"));  // the name is free again
  EXPECT_EQ(u.col("e \"\"")[0], "0");  // an empty quoted reference is vkey 0
  auto cleared = u.run("clean");  // any five-byte c-line clears
  ASSERT_TRUE(cleared);
  EXPECT_TRUE(cleared->cols.empty());
  EXPECT_EQ(u.s.container_count(), 0u);
  EXPECT_TRUE(u.ok("c abc"));
  EXPECT_EQ(u.col("c vector i32 again")[0], "0");
}

TEST(Describe, RowsColumnsAndFailures) {
  test_store t;
  auto empty = t.run("k");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->cols.empty());
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(t.ok("c vector i32"));
  for (int i = 1; i < 5; ++i) ASSERT_TRUE(t.ok("e " + std::to_string(i)));
  ASSERT_TRUE(t.ok("i 0 last 1"));
  ASSERT_TRUE(t.ok("i 0 last 2"));
  ASSERT_TRUE(t.ok("i 0 last 3"));
  EXPECT_EQ(t.table("k"),
            "\n|-skey-|-vkey-|-vkey(hex)-|-count-|-ctype--|-ktype-|-vtype-| \n"
            "|      | 0    | 0x0       | 3     | vector | i32   | u08   |\n"
            "|      | 5    | 0x5       | 0     | vector | i32   | u08   |\n");
  ASSERT_TRUE(t.ok("c vector string \"a name\""));
  EXPECT_EQ(testing_util::cells_of(*t.run("k \"a name\"")),
            (std::vector<strings>{{"a name"}, {"4"}, {"0x4"}, {"0"}, {"vector"}, {"string"}, {"u08"}}));
  EXPECT_EQ(t.col("k 5")[0], "");
  EXPECT_FALSE(t.ok("k 7"));
  EXPECT_FALSE(t.ok("k a b"));
}

TEST(Exec, NegativeLengthSeesOneEmptyToken) {
  // Through the exported entry point and the library's own store.
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
