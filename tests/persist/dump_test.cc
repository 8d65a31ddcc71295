// Dump and read commands: exact bytes, round trips, damaged files, failure
// messages, existing files, racing dumps and write errors.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "test_util.h"

namespace nosql_db {
namespace {

using namespace testing_util;

bool run(store& s, const std::string& line, datas* out = nullptr) {
  datas local;
  return exec_cmd(s, line.data(), static_cast<int64_t>(line.size()), out ? out : &local);
}
void must(store& s, const std::string& line) { ASSERT_TRUE(run(s, line)) << line; }

bool exists(const std::string& p) { return std::filesystem::exists(std::filesystem::symlink_status(p)); }

bool is_empty(store& s) { return s.container_count() == 0 && s.free_head() == 0; }

struct captured {
  bool ok;
  std::string out;
};
captured run_captured(store& s, const std::string& line) {
  testing::internal::CaptureStdout();
  const bool ok = run(s, line);
  return {ok, testing::internal::GetCapturedStdout()};
}

class DumpTest : public testing::Test {
 protected:
  temp_dir dir;
  store s;
};

// A dump with several records of different shapes, for the damage tests.
std::string representative(store& s, const temp_dir& dir) {
  for (const char* l : {"c vector i32 ints", "i 0 last -7", "i 0 last 993", "i 0 last 1993", "i 0 last 2993",
                        "i 0 last 3993", "c vector string strs",
                        "i 1 last alpha", "i 1 last \"\"", "i 1 last \"two words\"", "c vector datetime",
                        "i 2 last 2021-03-04T05:06:07.5", "c vector u08", "e 3", "c vector double d", "i 3 last 2.5"})
    must(s, l);
  const std::string p = dir.file("rep.vxdb");
  must(s, "b " + p);
  return read_file(p);
}

TEST_F(DumpTest, TruncatedFilesFailWithTheStoreEmpty) {
  const std::string full = representative(s, dir);
  const std::string want = snapshot(s);
  store t;
  const std::string p = dir.file("cut.vxdb");
  for (size_t n = 0; n <= full.size(); ++n) {
    SCOPED_TRACE(n);
    must(t, "c vector i32 marker");
    const std::string marked = snapshot(t);
    std::filesystem::remove(p);
    write_file(p, full.substr(0, n));
    const captured r = run_captured(t, "r " + p);
    if (n == full.size()) {
      EXPECT_TRUE(r.ok);
      EXPECT_EQ(snapshot(t), want);
    } else if (n < 5) {
      // Not even a header: the store is untouched.
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.out, "the file '" + p + "' is not normative vox's struct database binary file!\n");
      EXPECT_EQ(snapshot(t), marked);
    } else {
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.out, "");
      EXPECT_TRUE(is_empty(t));
    }
    must(t, "clear");
  }
}

// A file that is no dump, or of another version, leaves the store as it
// was and says so; a damaged one fails silently and leaves it empty. Each
// with its reason (LastError pins the details of a damaged one).
TEST_F(DumpTest, ReadFailuresAndMessages) {
  const std::string p = dir.file("bad.vxdb");
  const std::string not_normative = "the file '" + p + "' is not normative vox's struct database binary file!\n";
  const auto one = [](const char* kind) { return bytes().header(1).text("").u64(0).text(kind); };
  const uint64_t huge = uint64_t{1} << 60;
  const struct {
    const char* what;
    std::string file;  // empty: no file at all
    std::string message = "";
    failure why = failure::dump_damaged;
  } cases[] = {
      {"no file", "", "not exists file named " + p + "\n", failure::file_open},
      {"wrong magic", bytes().raw("vxdc").u8(0).u64(0).b, not_normative, failure::not_a_dump},
      {"version 1", bytes().raw("vxdb").u8(1).u64(0).b,
       "the vox's struct database binary file '" + p + "' is unsupport verion!\n", failure::dump_version},
      {"placeholder kind word", one("hashmap_not_allowed").desc(4, 2, 2).desc(0, 1, 0).u64(0).b},
      {"kind word in capitals", one("Vector").desc(2, 0, 0).desc(0, 1, 0).u64(0).b},
      {"huge kind length", bytes().header(1).text("").u64(0).u64(uint64_t{1} << 62).raw("vector").b},
      {"unknown key type", one("vector").desc(5, 2, 6).desc(0, 1, 0).u64(0).b},
      {"unknown value type", one("vector").desc(2, 0, 0).desc(9, 9, 9).u64(0).b},
      {"duplicate name", bytes().header(2).i32_vector("a", 0, {1}).i32_vector("a", 1, {2}).b},
      {"duplicate vkey", bytes().header(2).i32_vector("a", 4, {1}).i32_vector("b", 4, {2}).b},
      {"vkey beyond the slots", bytes().header(1).i32_vector("a", 1048576, {1}).b},
      {"vkey 2^64-1", bytes().header(1).i32_vector("a", ~uint64_t{0}, {1}).b},
      {"name length 2^60", bytes().header(1).u64(huge).raw("abc").b},
      {"element count 2^60", one("vector").desc(2, 0, 0).desc(0, 1, 0).u64(huge).u32(1).b},
      {"string length 2^60", one("vector").desc(4, 2, 2).desc(0, 1, 0).u64(1).u64(huge).b},
      {"second record damaged", bytes().header(2).i32_vector("a", 0, {1}).text("b").u64(1).text("vectr").b},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    store t;
    must(t, "c vector i32 keep");
    must(t, "i 0 last 42");
    const std::string before = snapshot(t);
    std::filesystem::remove(p);
    if (!c.file.empty()) write_file(p, c.file);
    const captured r = run_captured(t, "r " + p);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(last_failure(), c.why);
    EXPECT_EQ(r.out, c.message);
    if (c.message.empty()) {
      EXPECT_TRUE(is_empty(t));
    } else {
      EXPECT_EQ(snapshot(t), before);
    }
  }
}

// Wrong token counts fail; a quoted path may hold spaces, and messages show
// the token's text; a name in use (a file, a dangling symbolic link) is
// never written; no directory to write into fails silently; a directory is
// no dump file. None of it changes the store.
TEST_F(DumpTest, PathsAndNamesInUse) {
  must(s, "c vector i32 keep");
  const std::string before = snapshot(s), spaced = dir.file("a b.vxdb"), taken = dir.file("taken"),
                    dangling = dir.file("dangling");
  write_file(taken, "precious");
  ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dangling.c_str()), 0);
  ASSERT_TRUE(run(s, "b \"" + spaced + "\""));
  const struct {
    std::string line, message;
  } cases[] = {
      {"b", ""},
      {"r", ""},
      {"b a b", ""},
      {"r a b", ""},
      {"b \"\"", ""},
      {"r \"\"x", ""},
      {"b \"" + spaced + "\"", "exists file named " + spaced + "\n"},
      {"b " + taken, "exists file named " + taken + "\n"},
      {"b " + dangling, "exists file named " + dangling + "\n"},
      {"b " + dir.file("missing/x.vxdb"), ""},
      {"r " + dir.path(), "not exists file named " + dir.path() + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const captured r = run_captured(s, c.line);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, c.message);
    EXPECT_EQ(snapshot(s), before);
  }
  EXPECT_EQ(read_file(taken), "precious");
  EXPECT_FALSE(exists(dir.file("nowhere")));
  EXPECT_EQ(dir.entries().size(), 3u);
  store t;
  ASSERT_TRUE(run(t, "r \"" + spaced + "\""));
  EXPECT_EQ(snapshot(t), before);
}

TEST_F(DumpTest, RacingDumpsToOneName) {
  must(s, "c vector i64 big");
  auto* big = static_cast<adt<int64_t>*>(s.at(0));
  for (int64_t i = 0; i < 300000; ++i) big->ins_last(i);
  must(s, "c vector string words");
  must(s, "i 1 last hello");
  const std::string want = snapshot(s);
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    const std::string p = dir.file("race" + std::to_string(round));
    std::atomic<int> ready{0};
    bool ok[2] = {};
    testing::internal::CaptureStdout();
    std::vector<std::thread> th;
    for (int i = 0; i < 2; ++i) {
      th.emplace_back([&, i] {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        ok[i] = run(s, "b " + p);
      });
    }
    for (auto& x : th) x.join();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(ok[0], ok[1]) << "exactly one dump wins";
    EXPECT_EQ(out, "exists file named " + p + "\n");
    store t;
    ASSERT_TRUE(run(t, "r " + p));
    EXPECT_EQ(snapshot(t), want);
  }
  EXPECT_EQ(dir.entries().size(), 10u) << "no temporary file left behind";
}

TEST_F(DumpTest, WriteErrorLeavesNoFile) {
  must(s, "c vector i64 big");
  auto* big = static_cast<adt<int64_t>*>(s.at(0));
  for (int64_t i = 0; i < 100000; ++i) big->ins_last(i);
  // A file size limit makes the writes fail part way, as a full disk does.
  rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string p = dir.file("full.vxdb");
  const captured r = run_captured(s, "b " + p);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(exists(p));
  EXPECT_TRUE(dir.entries().empty()) << "the temporary file is removed";
  // Once writes succeed again the same name can be used.
  EXPECT_TRUE(run(s, "b " + p));
}

// What a killed dump leaves (a temporary file of a process that is gone)
// the next dump into the directory removes; a live process's it leaves.
TEST_F(DumpTest, NextDumpRemovesWhatKilledDumpsLeft) {
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string dead = ".vxdb." + std::to_string(gone) + ".0123456789abcdef";
  const std::string live = ".vxdb." + std::to_string(::getpid()) + ".0123456789abcdef";
  for (const std::string& n : {dead, live, std::string(".vxdb.12x.0123456789abcdef")}) write_file(dir.file(n), "partial");
  must(s, "b " + dir.file("next.vxdb"));
  EXPECT_FALSE(exists(dir.file(dead)));
  EXPECT_TRUE(exists(dir.file(live)));
  EXPECT_TRUE(exists(dir.file(".vxdb.12x.0123456789abcdef")));  // not such a name
}

}  // namespace
}  // namespace nosql_db
