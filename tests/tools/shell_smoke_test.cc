// Runs the vox_shell binary on small scripts in a scratch directory and
// checks its output, messages and exit status (--echo, csv and the tables
// are checked on every example of the documents by doc_examples.sh).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"

namespace nosql_db {
namespace {

#ifdef VOX_SHELL_PATH
constexpr const char* shell_path = VOX_SHELL_PATH;
#else
constexpr const char* shell_path = nullptr;
#endif

struct run_output {
  int status = -1;
  std::string out, err;
};

class ShellSmoke : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!shell_path) GTEST_SKIP() << "vox_shell is not built";
  }
  void write_file(const std::string& name, const std::string& text) { testing_util::write_file(dir_.file(name), text); }

  // Runs the shell in the scratch directory with standard input from the
  // file "stdin" there.
  run_output run(const std::string& args) {
    const std::string cmd = "cd '" + dir_.path() + "' && '" + shell_path + "' " + args + " <stdin >out 2>err";
    const int rc = std::system(cmd.c_str());
    run_output r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = testing_util::read_file(dir_.file("out"));
    r.err = testing_util::read_file(dir_.file("err"));
    // The library's banner and exit line go to standard error; drop them.
    if (r.err.starts_with("vox_nosql_local_mem version:")) r.err.erase(0, r.err.find('\n') + 1);
    if (r.err.ends_with("exit!\n")) r.err.resize(r.err.size() - 6);
    return r;
  }

  testing_util::temp_dir dir_;
};

struct script_case {
  const char* name;
  const char* args;  // followed by script.nos unless they name scripts or there is none
  std::string script;
  int status;
  std::vector<std::string> out_has, out_lacks, err_has;
  std::string init = "", input = "";  // init.nos and standard input
};

TEST_F(ShellSmoke, ScriptsAndOptions) {
  const std::vector<script_case> cases = {
      {"comments and blank lines are skipped", "",
       "# a comment\n\nc vector i32 v\n\n# i 0 last 1\ni 0 last 42\ng 0 all\n", 0, {"| 42 |"}, {"| 1 |"}, {}},
      {"a last line without a line feed runs", "", "c vector i32 v\ni 0 last 42\ng 0 all", 0, {"| 42 |"}, {}, {}},
      {"the first failure stops the script", "", "c vector i32 v\nnonsense line\ni 0 last 42\ng 0 all\n", 1, {},
       {"| 42 |"}, {"script.nos:2: error: command failed: nonsense line\nreason 2: the first byte names no command\n"}},
      {"--keep-going runs on and succeeds", "--keep-going",
       "c vector i32 v\nnonsense line\ni 0 last 42\ng 0 all\n", 0, {"| 42 |"}, {},
       {"script.nos:2: error: command failed: nonsense line"}},
      {"a carriage return stays part of the line", "",
       "c vector i32 nm\r\nk \"nm\\r\"\n", 0, {"nm"}, {}, {}},
      {"so the plain name does not resolve", "", "c vector i32 nm\r\nk \"nm\"\n", 1, {}, {},
       {"error: command failed: k \"nm\""}},
      {".quit ends the run", "", "c vector i32 v\n.quit\nnonsense\n", 0, {}, {}, {}},
      {"an unknown meta command fails", "", ".frobnicate\n", 1, {}, {}, {"unknown meta command"}},
      {"--time reports microseconds", "--time", "c vector i32 v\n", 0, {}, {}, {"time: ", " us\n"}},
      {"a line over the limit is refused, the next one runs", "--keep-going --max-line-bytes 14",
       "c vector i32 v\ni 0 last 42                 \ng 0 count\n", 0, {"| 0 |"}, {},
       {"script.nos:2: error: line too long: 28 bytes (limit 14)"}},
      {"json: one array per result, no infinities", "--mode=json",
       "c vector double v\ni 0 last 1.5\ni 0 last -inf\ni 0 last 0.1\ng 0 all\nc set string s\ni 1 \"\\x01\\xff\"\ng 1 all\n",
       0, {"[{\"\":1.5},{\"\":null},{\"\":0.1}]\n", "[{\"\":\"\\u0001\\ufffd\"}]\n"}, {}, {}},
      {"library messages go to standard error", "", ".mode json\nc vector i32 v\nb script.nos\n", 1,
       {"[{\"vkey\":0,\"vkey(hex)\":\"0x0\"}]\n"}, {"exists file"},
       {"exists file named script.nos\nscript.nos:3: error: command failed: b script.nos"}},
      // init.nos runs first; a script and standard input ("-") share one
      // store and run in order; with no script named, standard input is one.
      {"init, script and standard input in order", "script.nos -", "i 0 last 5\n", 0, {"| 5 |\n| 6 |\n"},
       {"load init.nos failed"}, {}, "c vector i32 boot\n", "i 0 last 6\ng 0 all\n"},
      {"standard input is a script when no script is named", "", "", 1, {"| 7 |"}, {},
       {"<stdin>:4: error: command failed: x"}, "", "c vector i32 v\ni 0 last 7\ng 0 all\nx\n"},
      // Usage errors and unreadable scripts: status 2 and why.
      {"--help", "--help", "", 0, {"usage: vox_shell"}, {}, {}},
      {"an unknown option", "--no-such-option", "", 2, {}, {}, {"unknown option: --no-such-option"}},
      {"no line limit", "--max-line-bytes 0", "", 2, {}, {}, {"--max-line-bytes needs a number"}},
      {"too large a limit", "--max-line-bytes 2147483648", "", 2, {}, {}, {"--max-line-bytes needs a number"}},
      {"a limit missing", "--max-line-bytes", "", 2, {}, {}, {"--max-line-bytes needs a number"}},
      {"an unknown mode", "--mode xml", "", 2, {}, {}, {"--mode needs table, csv or json"}},
      {"a missing script", "missing.nos", "", 2, {}, {}, {"cannot open missing.nos"}},
  };
  for (const script_case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file("script.nos", c.script);
    write_file("init.nos", c.init);
    write_file("stdin", c.input);
    const std::string args = c.args;
    const bool named = args.find("script.nos") != std::string::npos || c.script.empty();
    const run_output r = run(named ? args : args + " script.nos");
    EXPECT_EQ(r.status, c.status) << r.err;
    for (const std::string& s : c.out_has) EXPECT_NE(r.out.find(s), std::string::npos) << s << " in:\n" << r.out;
    for (const std::string& s : c.out_lacks) EXPECT_EQ(r.out.find(s), std::string::npos) << s << " in:\n" << r.out;
    for (const std::string& s : c.err_has) EXPECT_NE(r.err.find(s), std::string::npos) << s << " in:\n" << r.err;
    if (c.err_has.empty()) {
      EXPECT_EQ(r.err, "");
    }
  }
}

}  // namespace
}  // namespace nosql_db
