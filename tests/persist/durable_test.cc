// Durable mode: what a killed writer leaves is exactly what it was told
// was done; a journaled history recovered in another process is the store
// that made it; damaged directories open to a gap-free prefix or are
// refused, untouched; a full disk and a failed sync fail the change.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "api/durable.h"
#include "api/statement.h"
#include "api/vox_nosql.h"
#include "durable_ops.h"
#include "lang/io.h"
#include "persist/journal.h"
#include "test_util.h"

namespace nosql_db {
namespace {

using namespace testing_util;
namespace fs = std::filesystem;

// The store a directory holds, as the commands show it; "!CODE detail" when
// it cannot be opened.
std::string recovered(const std::string& dir) {
  test_store t;
  if (durable_open(t.s, dir.c_str(), 0) != 0)
    return "!" + std::to_string(thread_failure.code) + " " + thread_failure.detail + " at " +
           std::to_string(thread_failure.record);
  const std::string state = snapshot(t.s);
  durable_close(t.s);
  return state;
}

// Closes t's durable mode: the directory must recover to what t shows.
void expect_recovers(test_store& t, const std::string& dir) {
  const std::string state = snapshot(t.s);
  ASSERT_EQ(durable_close(t.s), 0);
  EXPECT_EQ(recovered(dir), state);
}

// Every file of a directory and its bytes.
std::map<std::string, std::string> files_of(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out[e.path().filename().string()] = read_file(e.path().string());
  return out;
}

// A writer killed at random moments, 30 times, each time picking up where
// the directory says it was: the directory must hold every change whose
// command had returned, and at most the one in flight besides.
TEST(Durable, KilledWritersLoseNothingAcknowledged) {
  temp_dir dir;
  const std::string store_dir = dir.file("store");
  test_store model;
  uint64_t next = 0;  // the first change the model has not made
  std::mt19937 rng(7);
  int kills = 0;
  for (int round = 0; round < 30; ++round) {
    // The writer's descriptor 3 is the pipe: its pid, then each change
    // done. It is killed at a random moment after its first acknowledged
    // change, so that every round gets somewhere however slow the machine.
    const std::string cmd = std::string("exec ") + DURABLE_WRITER_PATH + " " + store_dir + " 2 " +
                            std::to_string(next) + " 3>&1 >/dev/null";
    FILE* from = ::popen(cmd.c_str(), "r");
    pid_t pid = 0;
    ASSERT_TRUE(from && std::fread(&pid, sizeof pid, 1, from) == 1);
    uint64_t done = next, i;
    if (std::fread(&i, sizeof i, 1, from) == 1) done = i + 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 100));
    ::kill(pid, SIGKILL);
    while (std::fread(&i, sizeof i, 1, from) == 1) done = i + 1;
    kills += WIFSIGNALED(::pclose(from)) ? 1 : 0;
    for (; next < done; ++next) model.ok_any(testing_util::crash_op(next));
    const std::string got = recovered(store_dir), before = snapshot(model.s);
    if (got != before) {
      // The change in flight may have made it.
      model.ok_any(testing_util::crash_op(next++));
      ASSERT_TRUE(got == snapshot(model.s)) << "round " << round << ", after change " << done << ": "
                                            << got.substr(0, 200);
    }
  }
  EXPECT_EQ(kills, 30);
  EXPECT_GE(next, 30u);  // every writer got somewhere
}

// Random commands over every kind, with list handles, random checkpoints
// and a random sync mode, journaled; then the directory recovered by a
// shell, another process: it must show the store that made the history.
TEST(Durable, ReplayedHistoryIsTheStoreThatMadeIt) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    temp_dir dir;
    const std::string store_dir = dir.file("store");
    std::mt19937 rng(seed);
    test_store t;
    ASSERT_EQ(durable_open(t.s, store_dir.c_str(), static_cast<int32_t>(seed % 3)), 0) << thread_failure.detail;
    static const char* const kinds[] = {"vector i32", "list string", "deque u16", "queue i64", "stack double",
                                        "heap i32",   "set u08",     "multiset string", "map i16 date",
                                        "multimap string u32", "hashmap i08 string 256", "hashtable u16 100", "trie"};
    std::vector<std::string> handles;  // of list elements, taken as the history goes
    auto key = [&] { return std::to_string(rng() % 40); };
    std::string batch;
    for (int step = 0; step < 3000; ++step) {
      const uint64_t v = rng() % 14, r = rng() % 20;
      const std::string ref = std::to_string(v);
      std::string line;
      if (r == 0) line = std::string("c ") + kinds[rng() % 13];
      else if (r == 1 && rng() % 8 == 0) line = "e " + ref;
      else if (r == 2 && rng() % 200 == 0) line = "clear";
      else if (r == 3 && rng() % 20 == 0) ASSERT_EQ(durable_checkpoint(t.s), 0) << thread_failure.detail;
      else if (r < 9) line = "i " + ref + " " + key() + (rng() % 2 ? "" : " " + key());
      else if (r < 12) line = "i " + ref + (rng() % 2 ? " last " : " first ") + key();
      else if (r < 14) line = "d " + ref + (rng() % 2 ? " min" : " equal " + key());
      else if (r < 15) line = "s " + ref + " nth 1 " + key();
      else if (r < 16) line = "d " + ref + " first";
      else if (r < 18) {
        // A handle from the list at vkey 1 when there is one, used at once
        // or later.
        const auto got = t.col("g 1 pos " + key());
        if (got.size() == 1 && got[0][0] != '<') handles.push_back(got[0]);
        if (!handles.empty()) {
          const std::string& h = handles[rng() % handles.size()];
          line = rng() % 3 == 0 ? "d 1 pos " + h : rng() % 2 ? "i 1 val " + h + " " + key() : "s 1 val " + h + " " + key();
        }
      } else {
        line = "s " + ref + " value " + key() + " " + key();
      }
      if (line.empty()) continue;
      // Now and then three lines in a row go as one batch.
      if (!batch.empty() || rng() % 40 == 0) batch += line + "\n";
      else t.run(line);
      if (std::count(batch.begin(), batch.end(), '\n') == 3) {
        t.ok_any(batch);
        batch.clear();
      }
    }
    // What the shell must print: the describe table, every container, and
    // the element of every handle taken.
    std::string script, expected;
    const auto show = [&](const std::string& line) {
      script += line + "\n";
      expected += t.table(line);
    };
    show("k");
    for (uint64_t v = 0; v < 14; ++v)
      if (t.s.at(v)) show("g " + std::to_string(v) + " all");
    for (const std::string& h : handles) show("g 1 val " + h);
    ASSERT_EQ(durable_close(t.s), 0);
    write_file(dir.file("check.nos"), script);
    const std::string cmd = std::string(VOX_SHELL_PATH) + " --durable " + store_dir + " " + dir.file("check.nos") +
                            " 2>/dev/null > " + dir.file("out");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(read_file(dir.file("out")), expected);
  }
}

// A history with a checkpoint in its middle, in two directories: one
// closed cleanly (every record synced), one copied while its process still
// journaled without syncing (as a kill leaves it). Then each damage below,
// on a copy: the copy opens to the store after some prefix of the history,
// or is refused with the damaged file's name and left as it was. Nothing
// torn after the synced mark is refused; nothing damaged before it opens.
TEST(Durable, DamagedDirectoriesOpenToAPrefixOrAreRefused) {
  temp_dir dir;
  std::vector<std::string> states{""};  // the store after each change
  {
    test_store t;
    ASSERT_EQ(durable_open(t.s, dir.file("closed").c_str(), 0), 0);
    for (uint64_t i = 0; i < 120; ++i) {
      t.ok_any(testing_util::crash_op(i));
      if (i == 60) {
        ASSERT_EQ(durable_checkpoint(t.s), 0);
      }
      states.push_back(snapshot(t.s));
    }
    fs::copy(dir.file("closed"), dir.file("killed"));
    ASSERT_EQ(durable_close(t.s), 0);
  }
  int opened = 0, refused = 0;
  for (const char* base_name : {"closed", "killed"}) {
    const std::string base = dir.file(base_name);
    const std::map<std::string, std::string> original = files_of(base);
    std::string journal, checkpoint;
    for (const auto& [name, bytes] : original) {
      if (name.starts_with("journal-")) journal = name;
      if (name.starts_with("checkpoint-")) checkpoint = name;
    }
    ASSERT_FALSE(journal.empty() || checkpoint.empty());
    const std::string& jbytes = original.at(journal);
    // The journal's record boundaries, from its framing.
    std::vector<uint64_t> ends{32};
    for (uint64_t p = 32; p + 8 <= jbytes.size();) {
      uint32_t len;
      std::memcpy(&len, jbytes.data() + p + 4, 4);
      if (len == 0) break;
      p += 8 + len;
      ends.push_back(p);
    }
    ASSERT_GT(ends.size(), 40u);
    struct damage {
      std::string what;
      bool torn;  // a tail that a crash could leave
      std::function<void(const std::string& dir)> apply;
    };
    std::vector<damage> damages;
    const auto cut = [&](uint64_t at) { return [&, at](const std::string& d) { fs::resize_file(d + "/" + journal, at); }; };
    const auto flip = [](const std::string& file, uint64_t at) {
      return [file, at](const std::string& d) {
        std::string b = read_file(d + "/" + file);
        if (at < b.size()) b[at] = static_cast<char>(b[at] ^ 0x20);
        write_file(d + "/" + file, b);
      };
    };
    for (uint64_t e : ends) {
      damages.push_back({"journal cut at record end " + std::to_string(e), true, cut(e)});
      damages.push_back({"journal cut inside a record at " + std::to_string(e + 5), true, cut(e + 5)});
    }
    for (size_t i = 0; i + 1 < ends.size(); i += 5) {
      damages.push_back({"journal record at " + std::to_string(ends[i]) + ", first byte", true, flip(journal, ends[i])});
      damages.push_back({"journal record at " + std::to_string(ends[i]) + ", body", true, flip(journal, ends[i] + 9)});
    }
    for (uint64_t at : {uint64_t{0}, uint64_t{9}})
      damages.push_back({"journal header byte " + std::to_string(at), false, flip(journal, at)});
    // A synced end that does not check out (a kill between its two stores)
    // is no synced end: every record that frames itself is read.
    damages.push_back({"journal synced end", true, flip(journal, 17)});
    damages.push_back({"journal gone", false, [&](const std::string& d) { fs::remove(d + "/" + journal); }});
    damages.push_back({"checkpoint gone", false, [&](const std::string& d) { fs::remove(d + "/" + checkpoint); }});
    for (uint64_t at : {uint64_t{0}, uint64_t{20}, uint64_t{200}, original.at(checkpoint).size() - 1})
      damages.push_back({"checkpoint byte " + std::to_string(at), false, flip(checkpoint, at)});
    for (const damage& dmg : damages) {
      SCOPED_TRACE(std::string(base_name) + ": " + dmg.what);
      const std::string copy = dir.file("copy");
      fs::remove_all(copy);
      fs::copy(base, copy);
      dmg.apply(copy);
      const std::map<std::string, std::string> before = files_of(copy);
      const std::string got = recovered(copy);
      if (got.starts_with("!")) {
        ++refused;
        EXPECT_TRUE(got.starts_with("!84 ") && got.find("-00000000000000") != std::string::npos) << got;
        EXPECT_TRUE(files_of(copy) == before) << "a refused open changed the directory";
        // A torn tail after the synced mark is no damage.
        EXPECT_FALSE(dmg.torn && std::string(base_name) == "killed") << got;
      } else {
        ++opened;
        EXPECT_TRUE(std::find(states.begin(), states.end(), got) != states.end()) << "not the store after any prefix";
        EXPECT_TRUE(dmg.torn) << "damage before the synced mark opened";
      }
    }
    // The untouched directory is the whole history (the killed one too: its
    // records were the kernel's).
    EXPECT_EQ(recovered(base), states.back());
  }
  EXPECT_GT(opened, 40);
  EXPECT_GT(refused, 40);
}

// Failing system calls, as a full disk or a failing disk makes them fail.
int fail_fallocate(int, int, off_t, off_t) { return errno = ENOSPC, -1; }
int fail_sync(int) { return errno = EIO, -1; }

TEST(Durable, AFullDiskFailsTheChangeAndNothingElse) {
  temp_dir dir;
  test_store t;
  ASSERT_EQ(durable_open(t.s, dir.file("store").c_str(), 2), 0);
  ASSERT_TRUE(t.ok("c vector string v"));
  const std::string big(100000, 'x');
  const io_calls saved = io;
  io.fallocate = fail_fallocate;
  int failed = 0;
  for (int i = 0; i < 30; ++i) {
    const std::string before = snapshot(t.s);
    if (!t.ok("i 0 last \"" + big + "\"")) {
      ++failed;
      EXPECT_EQ(last_failure(), failure::journal_failed);
      EXPECT_STREQ(thread_failure.detail, "no space");
      EXPECT_EQ(snapshot(t.s), before);
    }
  }
  io = saved;
  EXPECT_GT(failed, 0);
  EXPECT_EQ(t.col("g 0 count")[0], std::to_string(30 - failed));
  ASSERT_TRUE(t.ok("i 0 last after"));  // room again: journaling goes on
  expect_recovers(t, dir.file("store"));
}

TEST(Durable, AFailedSyncFailsTheChangeAndStopsTheJournal) {
  temp_dir dir;
  test_store t;
  ASSERT_EQ(durable_open(t.s, dir.file("store").c_str(), 2), 0);
  ASSERT_TRUE(t.ok("c set i32 s") && t.ok("i 0 1"));
  const io_calls saved = io;
  io.fdatasync = fail_sync;
  EXPECT_FALSE(t.ok("i 0 2"));
  EXPECT_EQ(last_failure(), failure::journal_failed);
  io = saved;
  EXPECT_FALSE(t.ok("i 0 3"));  // stopped until durable mode is opened again
  // Catalog changes ask the journal for room before they read their words.
  for (const char* line : {"c vector i32 w", "c vector", "c \"open", "e 0 1", "e 7", "clear"}) {
    EXPECT_FALSE(t.ok(line)) << line;
    EXPECT_EQ(last_failure(), failure::journal_failed) << line;
  }
  EXPECT_EQ(t.col("g 0 count")[0], "2");  // reads go on
  durable_close(t.s);
  // What is on disk: 1 for sure; 2 reached the file before its sync failed.
  test_store back;
  ASSERT_EQ(durable_open(back.s, dir.file("store").c_str(), 2), 0);
  EXPECT_TRUE(back.ok("i 0 3"));
  EXPECT_EQ(back.col("g 0 min")[0], "1");
  durable_close(back.s);
}

TEST(Durable, OneProcessPerDirectoryAndOneDirectoryPerProcess) {
  temp_dir dir;
  test_store t;
  ASSERT_EQ(durable_open(t.s, dir.file("store").c_str(), 0), 0);
  EXPECT_EQ(durable_open(t.s, dir.file("other").c_str(), 0), VOX_E_DURABLE_ON);
  // Another process is refused, and says why.
  const std::string cmd = std::string(VOX_SHELL_PATH) + " --durable " + dir.file("store") + " </dev/null 2>" +
                          dir.file("err") + " >/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 2);
  EXPECT_NE(read_file(dir.file("err")).find("reason 83"), std::string::npos) << read_file(dir.file("err"));
  EXPECT_EQ(durable_close(t.s), 0);
  EXPECT_EQ(durable_close(t.s), VOX_E_DURABLE_OFF);
  EXPECT_EQ(durable_checkpoint(t.s), VOX_E_DURABLE_OFF);
  EXPECT_EQ(durable_open(t.s, dir.file("store").c_str(), 7), VOX_E_BAD_ARGUMENT);
}

// A read is kept only with the checkpoint that follows it; a read that
// fails in durable mode leaves the store as it was.
TEST(Durable, AReadIsCheckpointedAtOnce) {
  temp_dir dir;
  test_store t;
  ASSERT_TRUE(t.ok("c set i32 a") && t.ok("i 0 5") && t.ok("b " + dir.file("dump")));
  ASSERT_TRUE(t.ok("clear") && t.ok("c vector u08 b"));
  ASSERT_EQ(durable_open(t.s, dir.file("store").c_str(), 1), 0);
  const std::string before = snapshot(t.s);
  EXPECT_FALSE(t.ok("r " + dir.file("missing")));
  EXPECT_EQ(snapshot(t.s), before);
  ASSERT_TRUE(t.ok("r " + dir.file("dump")));
  fs::remove(dir.file("dump"));  // the journal does not need it
  ASSERT_TRUE(t.ok("i 0 6"));
  expect_recovers(t, dir.file("store"));
}

// Outside durable mode a list's handles and the statements on a container
// die with it: after a read, a clear or an erase, a handle or statement
// from before is refused, never taken for another element or container,
// also when a list of the same shape takes the slot.
TEST(Durable, HandlesAndStatementsFromBeforeAReadClearOrEraseAreRefused) {
  temp_dir dir;
  for (const char* ending : {"r", "clear", "e 0"}) {
    SCOPED_TRACE(ending);
    test_store t;
    ASSERT_TRUE(t.ok("c list string l") && t.ok("i 0 last a") && t.ok("i 0 last b"));
    const std::string h = t.col("g 0 pos b")[0];
    const auto get = statement::prepare(t.s, "g 0 index b", 11), del = statement::prepare(t.s, "d 0 first", 9);
    ASSERT_TRUE(get && get->run() && del);
    const std::string dump = dir.file(std::string("d") + ending[0]);
    ASSERT_TRUE(t.ok("b " + dump));
    ASSERT_TRUE(t.ok(ending[0] == 'r' ? "r " + dump : ending));
    if (ending[0] != 'r') {
      ASSERT_TRUE(t.ok("c list string l") && t.ok("i 0 last a") && t.ok("i 0 last b"));
    }
    EXPECT_EQ(t.col("g 0 val " + h)[0], "<none>");
    EXPECT_FALSE(t.ok("s 0 val " + h + " x"));
    EXPECT_EQ(last_failure(), failure::handle_not_live);
    EXPECT_FALSE(t.ok("d 0 pos " + h));
    EXPECT_FALSE(get->run() || del->run());
    EXPECT_EQ(last_failure(), failure::stale_statement);
    EXPECT_EQ(t.col("g 0 count")[0], "2");
  }
}

// A record appended to the file a checkpoint would supersede, still
// waiting for its sync when that checkpoint fails: the file keeps it, on
// disk, before its writer settles (and finds the file gone).
TEST(Durable, AFailedCheckpointKeepsTheRecordsWaitingForASync) {
  temp_dir dir;
  const int dir_fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir_fd, 0);
  {
    std::unique_ptr<journal> j = journal::open(dir_fd, 1, 0, sync_mode::always);
    ASSERT_TRUE(j);
    ASSERT_TRUE(j->begin_next(2, 5));
    ASSERT_TRUE(j->reserve(4, 3));
    const change_log::ticket t = j->append(4, "old");  // epoch 4: the first file's
    j->end_previous(false);
    EXPECT_TRUE(j->settle(t));
  }
  std::vector<std::string> records;
  uint64_t end = 0;
  ASSERT_TRUE(read_journal(dir_fd, 1, [&](std::string_view r) { return records.emplace_back(r), true; }, &end));
  EXPECT_EQ(records, std::vector<std::string>{"old"});
  ::close(dir_fd);
}

// While armed, every write longer than a journal record fails (the
// checkpoint's). The table of calls is set once, before any thread runs.
std::atomic<bool> long_writes_fail{false};
ssize_t fail_long_writes_when_armed(int fd, const void* p, size_t n) {
  if (n > 64 && long_writes_fail.load()) return errno = EIO, -1;
  return ::write(fd, p, n);
}

// Writers on shared and own containers, syncing each change, while
// another thread checkpoints: every change is in the recovered store.
TEST(Threads, DurableWritersShareSyncsWhileCheckpointsRun) {
  temp_dir dir;
  test_store t;
  ASSERT_EQ(durable_open(t.s, dir.file("store").c_str(), 2), 0);
  ASSERT_TRUE(t.ok("c set i64 shared") && t.ok("c list u32 l"));
  std::atomic<bool> stop{false};
  // Every other checkpoint fails while it writes: the journal it would
  // have superseded stays, with every record acknowledged meanwhile.
  const io_calls saved = io;
  io.write = fail_long_writes_when_armed;
  std::thread checkpoints([&] {
    for (int k = 0; !stop; ++k) {
      long_writes_fail = k % 2 != 0;
      const int32_t code = durable_checkpoint(t.s);
      long_writes_fail = false;
      if (code != (k % 2 ? VOX_E_CHECKPOINT_FAILED : 0)) {
        std::fprintf(stderr, "checkpoint %d answered %d: %s\n", k, code, thread_failure.detail);
        std::abort();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < 150; ++i) {
        if (!t.ok("i 0 " + std::to_string(w * 1000 + i)) || !t.ok("i 1 last " + std::to_string(i))) {
          std::fprintf(stderr, "writer %d failed: %d\n", w, static_cast<int>(thread_failure.code));
          std::abort();
        }
      }
    });
  }
  for (std::thread& w : writers) w.join();
  stop = true;
  checkpoints.join();
  io = saved;
  expect_recovers(t, dir.file("store"));
  EXPECT_EQ(t.col("g 0 count")[0], "600");
}

}  // namespace
}  // namespace nosql_db
