/* signals.c: a host that handles SIGINT and SIGTERM itself.
 *
 * While the library loads (before main for a host linked with it), it
 * installs its own handlers for SIGINT, SIGTERM, SIGSEGV, SIGABRT and
 * SIGILL, which print a line and end the process at once. A host that wants
 * to shut down its own way installs its handlers after that: here at the
 * start of main. The last installation wins, so these two signals now reach
 * the host; the other three keep the library's handler.
 *
 * The host works until a signal asks it to stop, then says so and returns
 * from main, so that exit runs the atexit handlers (the library's "exit!"
 * among them, last, because it was registered first).
 */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "vox_nosql.h"

static volatile sig_atomic_t stop_signal = 0;

static void on_stop(int sig) { stop_signal = sig; }

static int run(const char* line) {
  datas* d = exec(line, (int32_t)strlen(line));
  del_datas(d);
  return d != NULL;
}

int main(void) {
  struct sigaction sa;
  const struct timespec tick = {0, 10 * 1000 * 1000};
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_stop;
  sigemptyset(&sa.sa_mask);
  if (sigaction(SIGINT, &sa, NULL) != 0 || sigaction(SIGTERM, &sa, NULL) != 0) return 1;

  if (!run("c vector u64 ticks")) return 1;
  printf("ready\n");
  fflush(stdout);
  while (!stop_signal) {
    nanosleep(&tick, NULL);
    if (!run("i \"ticks\" last 1")) return 1;
  }
  printf("host: stopping on signal %d\n", (int)stop_signal);
  fflush(stdout);
  return 0;
}
