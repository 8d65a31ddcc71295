// vox_shell: a small host program that runs command lines against the
// vox_nosql library, from script files, from a pipe, or interactively with a
// prompt. It talks to the library only through the exported C interface in
// vox_nosql.h, the same way any other host does.
//
// Lines are cut exactly as the library's own init.nos runner cuts them: at
// each line feed, with empty lines skipped and everything else kept as it
// stands (a carriage return before the line feed stays part of the line).
// On top of that the shell, and only the shell, treats a line whose first
// byte is '#' as a comment and a line whose first byte is '.' as a meta
// command (.help, .quit, .time). No library command begins with either byte.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "vox_nosql.h"

#if VOX_SHELL_HAVE_EDITLINE
#include <editline/readline.h>
#endif

namespace {

constexpr uint64_t max_exec_length = INT32_MAX;  // exec takes an int32_t length
constexpr size_t shown_line_bytes = 200;         // how much of a failed line an error message shows

const char usage_text[] =
    "usage: vox_shell [options] [script ...]\n"
    "\n"
    "Runs command lines of the vox_nosql command language and prints every\n"
    "result set as a table on standard output.\n"
    "\n"
    "  vox_shell demo.nos more.nos   runs the scripts in order\n"
    "  vox_shell < demo.nos          runs standard input as a script\n"
    "  vox_shell                     interactive prompt (standard input is a terminal)\n"
    "  vox_shell -                   '-' names standard input among the scripts\n"
    "\n"
    "Options:\n"
    "  -h, --help             show this text and exit\n"
    "  -k, --keep-going       in scripts, go on after a failed command (default: stop\n"
    "                         at the first failure, as the library's init.nos runner does)\n"
    "  -t, --time             print the time each command took to standard error\n"
    "  -e, --echo             print each command line, prefixed with '> ', before\n"
    "                         its result (scripts only)\n"
    "      --no-history       interactive mode: neither read nor write ~/.vox_history\n"
    "      --max-line-bytes N refuse command lines longer than N bytes\n"
    "                         (1 to 2147483647, the default)\n"
    "  --                     end of options\n"
    "\n"
    "Lines: one command per line, cut at line feeds; empty lines are skipped and\n"
    "lines are otherwise passed on byte for byte (a carriage return stays part of\n"
    "its line). Lines starting with '#' are comments (a shell feature: the\n"
    "library's init.nos runner has none). Lines starting with '.' are meta commands:\n"
    "  .help           this list\n"
    "  .quit           leave the shell (also .exit)\n"
    "  .time on|off    print the time of each command to standard error\n"
    "\n"
    "A failed command prints \"error: command failed: <line>\" on standard error\n"
    "(prefixed with file:line in scripts).\n"
    "\n"
    "Exit status: 0 when every command succeeded, 1 when a command failed (or a\n"
    "line was too long, or a meta command was unknown), 2 for a usage error or a\n"
    "script that cannot be read. The interactive prompt exits with 0.\n"
    "\n"
    "The library prints a banner and runs ./init.nos when the shell starts, and\n"
    "\"exit!\" when it ends. Ctrl-C ends the shell at once with status 0.\n";

const char meta_help_text[] =
    "Meta commands:\n"
    "  .help           this list\n"
    "  .quit           leave the shell (also .exit)\n"
    "  .time on|off    print the time of each command to standard error\n"
    "Library commands (first letter decides): c create/clear, i insert, g get,\n"
    "s set, d delete, e erase, k describe, b dump to file, r read dump file.\n"
    "Lines starting with '#' are comments.\n";

struct options {
  bool keep_going = false;
  bool time = false;
  bool echo = false;
  bool history = true;
  uint64_t max_line = max_exec_length;
  std::vector<std::string> scripts;
};

enum class outcome { ok, failed, quit };

// Writes a line for a message, showing at most shown_line_bytes of it.
void write_shown(std::FILE* to, std::string_view line) {
  const size_t n = line.size() < shown_line_bytes ? line.size() : shown_line_bytes;
  std::fwrite(line.data(), 1, n, to);
  if (n < line.size()) std::fprintf(to, "... (%zu bytes)", line.size());
}

// Standard output goes first so that an error appears after the tables that
// came before it.
void report_failure(std::string_view where, std::string_view line, const char* what) {
  std::fflush(stdout);
  if (!where.empty()) std::fprintf(stderr, "%.*s: ", static_cast<int>(where.size()), where.data());
  std::fprintf(stderr, "error: %s: ", what);
  write_shown(stderr, line);
  std::fputc('\n', stderr);
}

std::string_view trim_right(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Meta commands are the shell's own, so they are read leniently: trailing
// blanks and a carriage return are ignored, words are separated by blanks.
outcome run_meta(std::string_view line, options& opt, std::string_view where) {
  std::string_view rest = trim_right(line);
  const size_t sp = rest.find_first_of(" \t");
  const std::string_view word = rest.substr(0, sp);
  std::string_view arg = sp == std::string_view::npos ? std::string_view() : rest.substr(sp);
  while (!arg.empty() && (arg.front() == ' ' || arg.front() == '\t')) arg.remove_prefix(1);

  if (word == ".help" && arg.empty()) {
    std::fputs(meta_help_text, stdout);
    std::fflush(stdout);
    return outcome::ok;
  }
  if ((word == ".quit" || word == ".exit") && arg.empty()) return outcome::quit;
  if (word == ".time") {
    if (arg == "on" || arg == "off") {
      opt.time = arg == "on";
      return outcome::ok;
    }
    if (arg.empty()) {
      std::fflush(stdout);
      std::fprintf(stderr, "time is %s\n", opt.time ? "on" : "off");
      return outcome::ok;
    }
  }
  report_failure(where, line, "unknown meta command (try .help)");
  return outcome::failed;
}

// Runs one line: skips it, handles it as a comment or meta command, or sends
// it to exec and prints the result.
outcome run_line(std::string_view line, options& opt, std::string_view where) {
  if (line.empty() || line.front() == '#') return outcome::ok;
  if (line.front() == '.') return run_meta(line, opt, where);
  if (line.size() > opt.max_line) {
    report_failure(where, line, "line too long");
    return outcome::failed;
  }
  if (opt.echo) {
    std::fputs("> ", stdout);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  const auto start = std::chrono::steady_clock::now();
  datas* d = exec(line.data(), static_cast<int32_t>(line.size()));
  const auto stop = std::chrono::steady_clock::now();
  if (d) {
    print(d);
    del_datas(d);
  } else {
    report_failure(where, line, "command failed");
  }
  if (opt.time) {
    std::fflush(stdout);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(stop - start).count();
    std::fprintf(stderr, "time: %lld us\n", static_cast<long long>(us));
  }
  return d ? outcome::ok : outcome::failed;
}

// Reads lines from a file descriptor, cut at line feeds (the line feed is
// dropped, every other byte kept). Reads with read(2) so that a terminal
// gives its line as soon as it is entered. A line longer than the limit is
// read to its end without being kept; the caller learns only its length.
class line_reader {
 public:
  enum class status { line, too_long, end, error };

  line_reader(int fd, uint64_t limit) : fd_(fd), limit_(limit) {}

  // On line: *line holds the line. On too_long: *line is empty and
  // *length is the line's length. On error: errno tells why.
  status next(std::string* line, uint64_t* length) {
    line->clear();
    uint64_t n = 0;
    bool any = false;
    for (;;) {
      if (pos_ == len_) {
        if (eof_) break;
        const ssize_t r = ::read(fd_, buf_, sizeof buf_);
        if (r < 0) {
          if (errno == EINTR) continue;
          return status::error;
        }
        if (r == 0) {
          eof_ = true;
          break;
        }
        pos_ = 0;
        len_ = static_cast<size_t>(r);
      }
      any = true;
      const char* start = buf_ + pos_;
      const void* nl = std::memchr(start, '\n', len_ - pos_);
      const size_t take = nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) : len_ - pos_;
      if (n + take <= limit_) {
        line->append(start, take);
      } else if (!line->empty()) {
        line->clear();
        line->shrink_to_fit();
      }
      n += take;
      pos_ += take;
      if (nl) {
        ++pos_;  // past the line feed
        break;
      }
    }
    *length = n;
    if (!any) return status::end;
    return n > limit_ ? status::too_long : status::line;
  }

 private:
  int fd_;
  uint64_t limit_;
  char buf_[65536];
  size_t pos_ = 0;
  size_t len_ = 0;
  bool eof_ = false;
};

struct run_result {
  bool failed = false;    // some command failed
  bool unreadable = false;  // the script could not be read
  bool quit = false;      // .quit was given
};

// Runs a script from fd, one line after another. name labels messages.
run_result run_script(int fd, const std::string& name, options& opt) {
  run_result res;
  line_reader reader(fd, opt.max_line);
  std::string line;
  uint64_t number = 0;
  for (;;) {
    uint64_t length = 0;
    line_reader::status st;
    try {
      st = reader.next(&line, &length);
    } catch (const std::bad_alloc&) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s: out of memory reading line %llu\n", name.c_str(),
                   static_cast<unsigned long long>(number + 1));
      res.failed = true;
      return res;
    }
    if (st == line_reader::status::end) break;
    if (st == line_reader::status::error) {
      std::fflush(stdout);
      std::fprintf(stderr, "vox_shell: cannot read %s: %s\n", name.c_str(), std::strerror(errno));
      res.unreadable = true;
      return res;
    }
    ++number;
    const std::string where = name + ":" + std::to_string(number);
    outcome o;
    if (st == line_reader::status::too_long) {
      std::fflush(stdout);
      std::fprintf(stderr, "%s: error: line too long: %llu bytes (limit %llu)\n", where.c_str(),
                   static_cast<unsigned long long>(length), static_cast<unsigned long long>(opt.max_line));
      o = outcome::failed;
    } else {
      o = run_line(line, opt, where);
    }
    if (o == outcome::quit) {
      res.quit = true;
      break;
    }
    if (o == outcome::failed) {
      res.failed = true;
      if (!opt.keep_going) break;
    }
  }
  return res;
}

#if VOX_SHELL_HAVE_EDITLINE
std::string history_path() {
  const char* home = std::getenv("HOME");
  if (!home || !*home) return {};
  return std::string(home) + "/.vox_history";
}

// Interactive loop with line editing and history. A history file that
// cannot be read or written is ignored.
void run_interactive(options& opt) {
  using_history();
  stifle_history(1000);
  const std::string hist = opt.history ? history_path() : std::string();
  if (!hist.empty()) read_history(hist.c_str());
  for (;;) {
    char* raw = readline("vox> ");
    if (!raw) {
      std::fputc('\n', stdout);
      break;
    }
    const std::string line(raw);
    std::free(raw);
    if (!line.empty()) {
      add_history(line.c_str());
      if (!hist.empty()) write_history(hist.c_str());
    }
    if (run_line(line, opt, {}) == outcome::quit) break;
  }
}
#else
// Interactive loop without line editing: a prompt and plain reads.
void run_interactive(options& opt) {
  line_reader reader(STDIN_FILENO, opt.max_line);
  std::string line;
  for (;;) {
    std::fputs("vox> ", stdout);
    std::fflush(stdout);
    uint64_t length = 0;
    const line_reader::status st = reader.next(&line, &length);
    if (st == line_reader::status::end || st == line_reader::status::error) {
      std::fputc('\n', stdout);
      break;
    }
    if (st == line_reader::status::too_long) {
      std::fprintf(stderr, "error: line too long: %llu bytes\n", static_cast<unsigned long long>(length));
      continue;
    }
    if (run_line(line, opt, {}) == outcome::quit) break;
  }
}
#endif

// Parses the command line into opt. Returns -1 to go on, otherwise the exit
// status to end with.
int parse_options(int argc, char** argv, options& opt) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (options_done || a == "-" || a.empty() || a.front() != '-') {
      opt.scripts.emplace_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
    } else if (a == "-h" || a == "--help") {
      std::fputs(usage_text, stdout);
      return 0;
    } else if (a == "-k" || a == "--keep-going") {
      opt.keep_going = true;
    } else if (a == "-t" || a == "--time") {
      opt.time = true;
    } else if (a == "-e" || a == "--echo") {
      opt.echo = true;
    } else if (a == "--no-history") {
      opt.history = false;
    } else if (a == "--max-line-bytes" || a.starts_with("--max-line-bytes=")) {
      std::string value;
      if (a.size() > 16) {
        value = std::string(a.substr(17));
      } else if (i + 1 < argc) {
        value = argv[++i];
      }
      char* end = nullptr;
      errno = 0;
      const unsigned long long v = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || value.front() == '-' || *end != '\0' || errno != 0 || v == 0 || v > max_exec_length) {
        std::fprintf(stderr, "vox_shell: --max-line-bytes needs a number from 1 to %llu\n",
                     static_cast<unsigned long long>(max_exec_length));
        return 2;
      }
      opt.max_line = v;
    } else {
      std::fprintf(stderr, "vox_shell: unknown option: %s (try --help)\n", argv[i]);
      return 2;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  options opt;
  const int early = parse_options(argc, argv, opt);
  if (early >= 0) return early;

  if (opt.scripts.empty() && isatty(STDIN_FILENO)) {
    opt.echo = false;  // the terminal shows the line already
    run_interactive(opt);
    return 0;
  }
  if (opt.scripts.empty()) opt.scripts.emplace_back("-");

  int status = 0;
  for (const std::string& name : opt.scripts) {
    const bool is_stdin = name == "-";
    const int fd = is_stdin ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::fflush(stdout);
      std::fprintf(stderr, "vox_shell: cannot open %s: %s\n", name.c_str(), std::strerror(errno));
      status = 2;
      if (!opt.keep_going) break;
      continue;
    }
    const run_result r = run_script(fd, is_stdin ? std::string("<stdin>") : name, opt);
    if (!is_stdin) ::close(fd);
    if (r.unreadable) status = 2;
    else if (r.failed && status == 0) status = 1;
    if (r.quit || ((r.failed || r.unreadable) && !opt.keep_going)) break;
  }
  std::fflush(stdout);
  return status;
}
