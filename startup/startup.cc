// Start-up at library load.
#include "startup/startup.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

#include "lang/failure.h"
#include "lang/result_set.h"

namespace nosql_db {
namespace {

std::atomic<store*> g_store{nullptr};

void write_stdout(const char* s, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(STDOUT_FILENO, s, n);
    if (w <= 0) return;
    s += w;
    n -= static_cast<size_t>(w);
  }
}

// Signal handlers use only async-signal-safe calls: write and _exit.
extern "C" void on_interrupt(int) {
  write_stdout("ctrl-c ", 7);
  _exit(0);
}

extern "C" void on_abnormal(int sig) {
  char msg[64] = "catch signal: ";
  size_t n = std::strlen(msg);
  char digits[12];
  int d = 0;
  unsigned v = static_cast<unsigned>(sig);
  do {
    digits[d++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v && d < 11);
  while (d > 0) msg[n++] = digits[--d];
  static constexpr char tail[] = ", abnormal.\n";
  std::memcpy(msg + n, tail, sizeof tail - 1);
  n += sizeof tail - 1;
  write_stdout(msg, n);
  _exit(-1);
}

extern "C" void on_exit_message() {
  std::fputs("exit!\n", stdout);
  std::fflush(stdout);
}

}  // namespace

void start_library(line_runner run) noexcept {
  std::signal(SIGINT, on_interrupt);
  std::signal(SIGTERM, on_abnormal);
  std::signal(SIGSEGV, on_abnormal);
  std::signal(SIGABRT, on_abnormal);
  std::signal(SIGILL, on_abnormal);
  std::atexit(on_exit_message);
  std::printf("vox_nosql_local_mem version: %s by %s, mail: %s. code: %s.\n", version_text(), "the vox team",
              "vox@localhost", "lantern");
  std::fflush(stdout);
  store* s = nullptr;
  try {
    s = new store();  // never destroyed: lives until exit
  } catch (...) {
    return;  // no memory for the slot table: every exec fails
  }
  load_init_script(*s, run);
  // The host's first exec starts with no reason left over from the script.
  clear_failure();
  g_store.store(s, std::memory_order_release);
}

store* global_store() noexcept { return g_store.load(std::memory_order_acquire); }

const char* version_text() noexcept { return "0.2.2-27@c41e07b"; }

void split_lines(std::string_view text, std::string_view delim, std::vector<std::string_view>* out,
                 bool skip_empty) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t at = text.find(delim, pos);
    if (at == std::string_view::npos) {
      out->push_back(text.substr(pos));
      return;
    }
    if (at > pos || !skip_empty) out->push_back(text.substr(pos, at - pos));
    pos = at + delim.size();
  }
}

void load_init_script(store& s, line_runner run) {
  static constexpr char file[] = "init.nos";
  std::FILE* f = std::fopen(file, "rb");
  if (!f) {
    std::printf("unable to open file %.*s\n", static_cast<int>(sizeof file - 1), file);
    std::printf("load init.nos failed\n");
    std::fflush(stdout);
    return;
  }
  std::string text;
  char buf[65536];
  size_t n;
  try {
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  } catch (...) {
    std::fclose(f);
    std::printf("load init.nos failed\n");
    std::fflush(stdout);
    return;
  }
  std::fclose(f);
  try {
    std::vector<std::string_view> lines;
    split_lines(text, "\n", &lines, true);
    auto shared_result = std::make_unique<datas>();
    for (size_t i = 0; i < lines.size(); ++i) {
      bool ok;
      try {
        ok = run(s, lines[i].data(), static_cast<int64_t>(lines[i].size()), shared_result.get());
      } catch (...) {
        ok = false;
      }
      if (!ok) {
        std::printf("exec failed with:\"%.*s\" at line %d\n", static_cast<int>(lines[i].size()), lines[i].data(),
                    static_cast<int>(i));
        break;
      }
    }
  } catch (...) {
    std::printf("load init.nos failed\n");
  }
  std::fflush(stdout);
}

}  // namespace nosql_db
