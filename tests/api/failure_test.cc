// last_error(): every failure class through exec, with its code and detail
// (those the examples of docs/commands.md show, which a test runs, the
// hash kinds', which their model test checks, and a file that is no dump
// or of another version, which the dump test reads, are left to them); a
// success resets the reason; the reason belongs to the calling thread.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "api/vox_nosql.h"
#include "test_util.h"

namespace {

using namespace nosql_db::testing_util;

bool run(const std::string& line) {
  datas* d = exec(line.data(), static_cast<int32_t>(line.size()));
  del_datas(d);
  return d != nullptr;
}

// "b DIR/x" with DIR the test's directory.
std::string in_dir(std::string line, const temp_dir& dir) {
  if (line.size() > 6 && line.compare(2, 4, "DIR/") == 0) line.replace(2, 3, dir.path());
  return line;
}

TEST(LastError, EachClassThroughExec) {
  temp_dir dir;
  write_file(dir.file("short"), bytes().raw("vxdb").u8(0).u8(0).u8(0).b);
  // Record 1 promises three elements and holds one.
  write_file(dir.file("cut"), bytes().header(2).i32_vector("a", 0, {}).text("b").u64(1).text("vector").desc(2, 0, 0)
                                  .desc(0, 1, 0).u64(3).u32(1).b);
  for (const char* line : {"clear", "c vector i32 v", "c set i32 s", "c map i32 string m", "c list i32 l",
                           "c hashtable string 4 p", "c set double f", "c map i32 date md", "i \"v\" last 1",
                           "i \"s\" 1", "i \"s\" 2", "i \"m\" 1 one"}) {
    ASSERT_TRUE(run(in_dir(line, dir))) << line;
  }
  const struct {
    const char* line;
    int32_t code;
    const char* detail = "";
    uint64_t record = 0;
  } cases[] = {
      // The line.
      {"", VOX_E_EMPTY_LINE},
      {" g 0 count", VOX_E_UNKNOWN_COMMAND},
      {"x 0", VOX_E_UNKNOWN_COMMAND},
      {"g \"v\"", VOX_E_WORD_COUNT},
      {"i \"v\" nth 1 2 3", VOX_E_WORD_COUNT},
      {"e \"v\" 1", VOX_E_WORD_COUNT},
      {"i \"s\" \"open", VOX_E_UNTERMINATED_QUOTE},
      {"i \"s\" \"\\x4", VOX_E_ESCAPE_PAST_END},
      // The container reference.
      {"d 1048576 all", VOX_E_VKEY_OUT_OF_RANGE},
      {"s 99 all 1", VOX_E_EMPTY_SLOT},
      {"e 0x63", VOX_E_EMPTY_SLOT},
      {"k \"nope\"", VOX_E_UNKNOWN_NAME},
      // Words, kinds and types.
      {"s \"v\" xyz 5", VOX_E_UNKNOWN_WORD},
      {"d \"v\" xyz", VOX_E_UNKNOWN_WORD},
      {"i \"v\" zz 1 2", VOX_E_UNKNOWN_WORD},
      {"i \"v\" 7", VOX_E_KIND_LACKS_WORD, "vector"},
      {"s \"s\" nth 1 5", VOX_E_KIND_LACKS_WORD, "set"},
      {"g \"p\" count", VOX_E_PLACEHOLDER, "hashtable_not_allowed"},
      {"c vectors i32", VOX_E_UNKNOWN_KIND},
      {"c map i32 x64", VOX_E_UNKNOWN_TYPE},
      // Arguments: the detail names the type the word must have.
      {"i \"md\" 1 2023-02-29", VOX_E_BAD_ARGUMENT, "date"},
      {"s \"v\" all x", VOX_E_BAD_ARGUMENT, "i32"},
      {"i \"s\" 3 x", VOX_E_BAD_ARGUMENT, "u08"},
      // Refusals.
      {"i \"s\" 1", VOX_E_KEY_PRESENT},
      {"i \"m\" 1 uno", VOX_E_KEY_PRESENT},
      {"d \"m\" equal 5", VOX_E_KEY_ABSENT},
      {"i \"v\" nth 9 5", VOX_E_POSITION_OUT_OF_RANGE},
      {"d \"l\" pos 77", VOX_E_HANDLE_NOT_LIVE},
      {"s \"l\" last 1", VOX_E_EMPTY_CONTAINER},
      {"i \"f\" nan", VOX_E_NAN_KEY},
      {"s \"s\" ge 1 9", VOX_E_REFUSED},
      {"c vector i32 v", VOX_E_NAME_TAKEN},
      // Files.
      {"b DIR/no/such/dir", VOX_E_FILE_CREATE},
      {"r DIR/short", VOX_E_DUMP_DAMAGED, "record count"},
      {"r DIR/cut", VOX_E_DUMP_DAMAGED, "elements", 1},
      // A bucket array that cannot be allocated.
      {"c hashmap u64 u08 18446744073709551615", VOX_E_OUT_OF_MEMORY},
  };
  for (const auto& c : cases) {
    const std::string line = in_dir(c.line, dir);
    SCOPED_TRACE(line);
    ASSERT_TRUE(run("k"));  // a success leaves no reason
    ASSERT_EQ(last_error(nullptr, nullptr, nullptr), VOX_E_NONE);
    EXPECT_FALSE(run(line));
    const char *text = nullptr, *detail = nullptr;
    uint64_t record = 99;
    EXPECT_EQ(last_error(&text, &detail, &record), c.code) << text;
    EXPECT_STREQ(detail, c.detail);
    EXPECT_EQ(record, c.record);
    EXPECT_GT(std::strlen(text), 0u);
  }
}

TEST(LastError, BelongsToTheCallingThread) {
  ASSERT_FALSE(run("x"));
  std::thread([] {
    EXPECT_EQ(last_error(nullptr, nullptr, nullptr), VOX_E_NONE);
    EXPECT_FALSE(run("g 1048576 count"));
    EXPECT_EQ(last_error(nullptr, nullptr, nullptr), VOX_E_VKEY_OUT_OF_RANGE);
  }).join();
  EXPECT_EQ(last_error(nullptr, nullptr, nullptr), VOX_E_UNKNOWN_COMMAND);
  ASSERT_TRUE(run("k"));
  const char* text = nullptr;
  EXPECT_EQ(last_error(&text, nullptr, nullptr), VOX_E_NONE);
  EXPECT_STREQ(text, "no failure");
}

}  // namespace
