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
// command (.help, .mode, .quit, .time). No library command begins with
// either byte.
//
// Standard output carries result sets only, as tables, CSV or JSON; what the
// library itself prints (its banner, init.nos and dump messages, "exit!")
// is sent to standard error, as are the shell's own messages.
#include <cerrno>
#include <chrono>
#include <cmath>
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

#include "vox_nosql.hpp"

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
    "  -m, --mode MODE        print result sets as 'table' (the default), 'csv' or\n"
    "                         'json' (one array of row objects per line)\n"
    "      --no-history       interactive mode: neither read nor write ~/.vox_history\n"
    "      --max-line-bytes N refuse command lines longer than N bytes\n"
    "      --durable DIR      journal every change into DIR (made when absent) and\n"
    "                         start from the store DIR holds, if any\n"
    "      --sync MODE        with --durable: when changes reach the disk, 'none'\n"
    "                         (the default; a process crash loses nothing), 'batch'\n"
    "                         (every 50 ms) or 'always' (before each command ends)\n"
    "                         (1 to 2147483647, the default)\n"
    "  --                     end of options\n"
    "\n"
    "Lines: one command per line, cut at line feeds; empty lines are skipped and\n"
    "lines are otherwise passed on byte for byte (a carriage return stays part of\n"
    "its line). Lines starting with '#' are comments (a shell feature: the\n"
    "library's init.nos runner has none). Lines starting with '.' are the shell's\n"
    "own meta commands (.help lists them) and never reach the library.\n"
    "\n"
    "A failed command prints \"error: command failed: <line>\" on standard error\n"
    "(prefixed with file:line in scripts), then \"reason N: <why>\" with the\n"
    "library's code N for the failure (docs/commands.md lists the codes).\n"
    "\n"
    "Exit status: 0 when every command succeeded, 1 when a command failed (or a\n"
    "line was too long, or a meta command was unknown) unless --keep-going was\n"
    "given, 2 for a usage error or a script that cannot be opened or read. The\n"
    "interactive prompt exits with 0.\n"
    "\n"
    "Standard output carries result sets only. The library's own messages (its\n"
    "banner, ./init.nos, which it runs at start, dump and read messages, and\n"
    "\"exit!\" at the end) go to standard error. Ctrl-C ends the shell at once\n"
    "with status 0.\n";

const char meta_help_text[] =
    "Meta commands (the shell's own; they never reach the library):\n"
    "  .help                  this summary\n"
    "  .mode table|csv|json   how result sets are printed\n"
    "  .time on|off           print each command's time to standard error\n"
    "  .quit, .exit           leave the shell\n"
    "  .checkpoint            with --durable: write a checkpoint now\n"
    "  .begin                 collect the next command lines into a batch\n"
    "  .commit                run the batch as one: all of it or none of it\n"
    "  .rollback              drop the batch without running it\n"
    "Commands: the first letter decides. Words are separated by spaces, at most\n"
    "six to a line; a \"quoted word\" may hold spaces and the escapes \\\" \\\\ \\n \\t\n"
    "\\xHH \\uHHHH. REF is a \"quoted name\" or a vkey number.\n"
    "  c KIND TYPE [NAME]        create a vector list deque queue stack heap set\n"
    "                            multiset (trie: c trie); prints the vkey\n"
    "  c map|multimap KEY VALUE [NAME]\n"
    "  c hashmap KEY VALUE N [NAME], c hashtable KEY N [NAME]   integer keys\n"
    "  clear                     drop every container\n"
    "  i REF X                   insert a key (set, multiset, heap, trie, maps)\n"
    "  i REF KEY VALUE           insert a key with a value (maps)\n"
    "  i REF first|last X, i REF nth POS X, i REF val HANDLE X   sequences\n"
    "  g REF WORD [A [B]]        get: all count first last nth range value min max\n"
    "                            rank lt le gt ge lege ltgt min_n max_n equal ...\n"
    "  s REF WORD [A [B]] NEW    set: overwrite in place (s REF value KEY NEW)\n"
    "  d REF WORD [A [B]]        delete: all first last nth range equal min ...\n"
    "  e REF                     erase a container\n"
    "  k [REF]                   describe every container, or one\n"
    "  b PATH, r PATH            dump the store to a new file; replace it by one\n"
    "Types: i08 i16 i32 i64 u08 u16 u32 u64 float double date time datetime string.\n"
    "Every word, kind and literal: docs/commands.md. Lines starting with '#' are\n"
    "comments.\n";

enum class print_mode { table, csv, json };

bool parse_mode(std::string_view w, print_mode* m) {
  if (w == "table") *m = print_mode::table;
  else if (w == "csv") *m = print_mode::csv;
  else if (w == "json") *m = print_mode::json;
  else return false;
  return true;
}

struct options {
  print_mode mode = print_mode::table;
  bool keep_going = false;
  bool time = false;
  bool echo = false;
  bool history = true;
  uint64_t max_line = max_exec_length;
  std::string durable_dir;  // empty: durable mode off
  vox::durable::sync sync = vox::durable::sync::none;
  std::vector<std::string> scripts;
  // Between .begin and .commit: the lines collected.
  bool in_batch = false;
  std::vector<std::string> batch;
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

// The line after a failed command: "reason CODE: TEXT", then in parentheses
// the detail (a type, a kind, a damaged field) and a damaged record's index.
void report_reason(const vox::error& e) {
  std::fprintf(stderr, "reason %d: %.*s", static_cast<int>(e.code), static_cast<int>(e.text.size()), e.text.data());
  if (!e.detail.empty()) {
    std::fprintf(stderr, " (%.*s", static_cast<int>(e.detail.size()), e.detail.data());
    if (e.code == VOX_E_DUMP_DAMAGED) std::fprintf(stderr, ", record %llu", static_cast<unsigned long long>(e.record));
    std::fputc(')', stderr);
  }
  std::fputc('\n', stderr);
}

std::string_view trim_right(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

outcome run_batch(std::string_view line, options& opt, std::string_view where);

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
  if (word == ".checkpoint" && arg.empty()) {
    if (::vox_checkpoint() == VOX_E_NONE) return outcome::ok;
    report_failure(where, line, "checkpoint failed");
    report_reason(vox::last_error());
    return outcome::failed;
  }
  if ((word == ".begin" || word == ".commit" || word == ".rollback") && arg.empty()) {
    if (word == ".begin" ? opt.in_batch : !opt.in_batch) {
      report_failure(where, line, opt.in_batch ? "a batch is open already" : "no batch is open (.begin opens one)");
      return outcome::failed;
    }
    opt.in_batch = word == ".begin";
    if (word == ".commit") return run_batch(line, opt, where);
    opt.batch.clear();
    return outcome::ok;
  }
  if (word == ".mode" && parse_mode(arg, &opt.mode)) return outcome::ok;
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

// Standard output of the library. The library prints its banner and the
// messages of init.nos while it loads, before main; this runs earlier still
// (from .preinit_array) and points standard output at standard error until
// main points it back, so that standard output carries result sets only.
int results_fd = -1;

void divert_library_output(int, char**, char**) {
  results_fd = ::dup(STDOUT_FILENO);
  if (results_fd >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    ::close(results_fd);
    results_fd = -1;
  }
}
__attribute__((section(".preinit_array"), used)) void (*const divert_at_load)(int, char**, char**) =
    divert_library_output;

// Points standard output at the results (true) or at standard error, where
// the library's messages belong (false).
void output_to_results(bool results) {
  if (results_fd < 0) return;
  std::fflush(stdout);
  ::dup2(results ? results_fd : STDERR_FILENO, STDOUT_FILENO);
}

// A CSV field, quoted when it holds a comma, quote or line break, or is
// empty (so that a row of one empty field is not a blank line).
void append_csv_field(std::string& out, std::string_view f) {
  if (!f.empty() && f.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += f;
    return;
  }
  out += '"';
  for (const char c : f) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// Length of the well-formed UTF-8 sequence at the start of s, or 0.
size_t utf8_length(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (s.size() < n || b(1) < lo || b(1) > hi) return 0;
  for (size_t i = 2; i < n; ++i)
    if ((b(i) & 0xC0) != 0x80) return 0;
  return n;
}

// A JSON string: quote, backslash and control bytes escaped; bytes that are
// not well-formed UTF-8 become U+FFFD.
void append_json_string(std::string& out, std::string_view s) {
  out += '"';
  while (!s.empty()) {
    const auto c = static_cast<unsigned char>(s[0]);
    const size_t n = utf8_length(s);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (n == 0) {
      out += "\\ufffd";
    } else {
      out.append(s.data(), n);
    }
    s.remove_prefix(n ? n : 1);
  }
  out += '"';
}

void append_json_value(std::string& out, const vox::cell& c) {
  switch (c.type()) {
    case vox::value_type::integer: out += c.text(); return;
    case vox::value_type::floating:
      // JSON has no infinities or NaN.
      if (std::isfinite(c.get<double>().value_or(0))) out += c.text();
      else out += "null";
      return;
    default: append_json_string(out, c.text());
  }
}

// Writes a result set in the chosen mode. Nothing for a result without
// columns; CSV gives a header line, JSON one array of row objects per line.
void write_result(const vox::result& r, print_mode mode) {
  if (mode == print_mode::table) {
    r.print();
    return;
  }
  if (r.columns() == 0) return;
  std::string out;
  if (mode == print_mode::csv) {
    for (size_t c = 0; c < r.columns(); ++c) {
      if (c) out += ',';
      append_csv_field(out, r.name(c));
    }
    out += '\n';
    for (const vox::row row : r) {
      for (size_t c = 0; c < r.columns(); ++c) {
        if (c) out += ',';
        append_csv_field(out, row[c].text());
      }
      out += '\n';
    }
  } else {
    out += '[';
    for (const vox::row row : r) {
      out += row.index() ? ",{" : "{";
      for (size_t c = 0; c < r.columns(); ++c) {
        if (c) out += ',';
        append_json_string(out, r.name(c));
        out += ':';
        append_json_value(out, row[c]);
      }
      out += '}';
    }
    out += "]\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

// Runs the collected lines as one batch and prints each answer; on failure
// names the command that failed.
outcome run_batch(std::string_view line, options& opt, std::string_view where) {
  vox::batch b;
  for (const std::string& l : opt.batch) b.add_line(l);
  opt.batch.clear();
  output_to_results(false);
  const bool ok = b.run();
  output_to_results(true);
  if (ok) {
    for (size_t i = 0; i < b.size(); ++i) write_result(b[i], opt.mode);
    return outcome::ok;
  }
  const vox::error& e = b.error();
  std::string what = "batch failed at command " + std::to_string(e.record + 1) + " of " + std::to_string(b.size());
  what += "; nothing was changed";
  report_failure(where, line, what.c_str());
  report_reason(e);
  return outcome::failed;
}

// Runs one line: skips it, handles it as a comment or meta command, or sends
// it to exec and prints the result.
outcome run_line(std::string_view line, options& opt, std::string_view where) {
  if (line.empty() || line.front() == '#') return outcome::ok;
  if (line.size() > opt.max_line) {
    report_failure(where, line, "line too long");
    return outcome::failed;
  }
  if (opt.echo) {
    std::fputs("> ", stdout);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  if (line.front() == '.') return run_meta(line, opt, where);
  if (opt.in_batch) {
    opt.batch.emplace_back(line);
    return outcome::ok;
  }
  output_to_results(false);
  const auto start = std::chrono::steady_clock::now();
  const vox::result r(exec(line.data(), static_cast<int32_t>(line.size())));
  const auto stop = std::chrono::steady_clock::now();
  output_to_results(true);
  if (r) {
    write_result(r, opt.mode);
  } else {
    report_failure(where, line, "command failed");
    report_reason(r.error());
  }
  if (opt.time) {
    std::fflush(stdout);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(stop - start).count();
    std::fprintf(stderr, "time: %lld us\n", static_cast<long long>(us));
  }
  return r ? outcome::ok : outcome::failed;
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
  if (opt.in_batch && !res.failed) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: error: the batch was never committed; its %zu lines did not run\n", name.c_str(),
                 opt.batch.size());
    res.failed = true;
  }
  opt.in_batch = false;
  opt.batch.clear();
  return res;
}

#if VOX_SHELL_HAVE_EDITLINE
// Completion: the command word first, then kind and type names after c,
// sub-command words after g, s and d, position words after i, and the
// arguments of .mode and .time.
const char* const command_words[] = {"clear", "create", "get", "set", "insert", "delete", "erase", "k", "b", "r",
                                     ".help", ".mode", ".time", ".checkpoint", ".begin", ".commit", ".rollback", ".quit", ".exit", nullptr};
const char* const kind_words[] = {"vector", "list", "deque", "queue", "stack", "heap", "set", "multiset", "map",
                                  "multimap", "hashmap", "hashtable", "trie", nullptr};
const char* const type_words[] = {"i08", "i16", "i32", "i64", "u08", "u16", "u32", "u64", "float", "double",
                                  "date", "time", "datetime", "string", nullptr};
const char* const get_words[] = {"all", "count", "con_type", "contain", "ucontain", "equal", "first", "first_n",
                                 "gt", "ge", "lt", "le", "lege", "legt", "ltge", "ltgt", "index", "key_type",
                                 "val_type", "last", "last_n", "min", "max", "min_n", "max_n", "nth", "pos",
                                 "pos_n", "pos_p", "rank", "range", "value", "val", nullptr};
const char* const set_words[] = {"all", "equal", "first", "first_n", "gt", "ge", "lt", "le", "lege", "legt", "ltge",
                                 "ltgt", "last", "last_n", "min", "max", "min_n", "max_n", "nth", "range", "val",
                                 "value", nullptr};
const char* const delete_words[] = {"all", "equal", "first", "first_n", "gt", "ge", "lt", "le", "lege", "legt",
                                    "ltge", "ltgt", "last", "last_n", "min", "max", "min_n", "max_n", "nth", "pos",
                                    "range", nullptr};
const char* const insert_words[] = {"first", "last", "nth", "val", nullptr};
const char* const mode_words[] = {"table", "csv", "json", nullptr};
const char* const on_off[] = {"on", "off", nullptr};

const char* const* completion_words = nullptr;

// The words that fit a word starting at byte `start` of the line.
const char* const* words_for(std::string_view line, size_t start) {
  std::vector<std::string_view> before;
  size_t i = 0;
  while (i < start) {
    while (i < start && line[i] == ' ') ++i;
    const size_t b = i;
    while (i < start && line[i] != ' ') ++i;
    if (i > b) before.push_back(line.substr(b, i - b));
  }
  if (before.empty()) return command_words;
  const std::string_view first = before[0];
  const size_t n = before.size();
  if (first == ".mode") return n == 1 ? mode_words : nullptr;
  if (first == ".time") return n == 1 ? on_off : nullptr;
  switch (first[0]) {
    case 'c':
      if (n == 1) return kind_words;
      return n <= 3 ? type_words : nullptr;
    case 'g': return n == 2 ? get_words : nullptr;
    case 's': return n == 2 ? set_words : nullptr;
    case 'd': return n == 2 ? delete_words : nullptr;
    case 'i': return n == 2 ? insert_words : nullptr;
    default: return nullptr;
  }
}

char* next_completion(const char* text, int state) {
  static size_t index;
  if (state == 0) index = 0;
  if (!completion_words) return nullptr;
  const size_t len = std::strlen(text);
  while (const char* w = completion_words[index]) {
    ++index;
    if (std::strncmp(w, text, len) == 0) return strdup(w);
  }
  return nullptr;
}

char** complete(const char* text, int start, int) {
  rl_attempted_completion_over = 1;  // never file names
  completion_words = words_for(rl_line_buffer ? rl_line_buffer : "", static_cast<size_t>(start));
  return rl_completion_matches(text, next_completion);
}

std::string history_path() {
  const char* home = std::getenv("HOME");
  if (!home || !*home) return {};
  return std::string(home) + "/.vox_history";
}

// Interactive loop with line editing and history. A history file that
// cannot be read or written is ignored.
void run_interactive(options& opt) {
  rl_attempted_completion_function = complete;
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
    } else if (a == "-m" || a == "--mode" || a.starts_with("--mode=")) {
      const std::string_view value = a.size() > 6 ? a.substr(7) : i + 1 < argc ? std::string_view(argv[++i]) : "";
      if (!parse_mode(value, &opt.mode)) {
        std::fprintf(stderr, "vox_shell: --mode needs table, csv or json\n");
        return 2;
      }
    } else if (a == "--no-history") {
      opt.history = false;
    } else if (a == "--durable" || a.starts_with("--durable=")) {
      opt.durable_dir = a.size() > 9 ? std::string(a.substr(10)) : i + 1 < argc ? argv[++i] : "";
      if (opt.durable_dir.empty()) {
        std::fprintf(stderr, "vox_shell: --durable needs a directory\n");
        return 2;
      }
    } else if (a == "--sync" || a.starts_with("--sync=")) {
      const std::string_view value = a.size() > 6 ? a.substr(7) : i + 1 < argc ? std::string_view(argv[++i]) : "";
      if (value == "none") opt.sync = vox::durable::sync::none;
      else if (value == "batch") opt.sync = vox::durable::sync::batch;
      else if (value == "always") opt.sync = vox::durable::sync::always;
      else {
        std::fprintf(stderr, "vox_shell: --sync needs none, batch or always\n");
        return 2;
      }
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

// The shell's work; returns the exit status.
int run_shell(int argc, char** argv) {
  options opt;
  const int early = parse_options(argc, argv, opt);
  if (early >= 0) return early;
  vox::durable durable;
  if (!opt.durable_dir.empty()) {
    durable = vox::durable(opt.durable_dir, opt.sync);
    if (!durable) {
      std::fflush(stdout);
      std::fprintf(stderr, "vox_shell: cannot use %s for durable mode\n", opt.durable_dir.c_str());
      report_reason(durable.error());
      return 2;
    }
  }

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
    else if (r.failed && status == 0 && !opt.keep_going) status = 1;
    if (r.quit || ((r.failed || r.unreadable) && !opt.keep_going)) break;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  output_to_results(true);
  const int status = run_shell(argc, argv);
  std::fflush(stdout);
  output_to_results(false);  // the library's "exit!" goes with its other messages
  return status;
}
