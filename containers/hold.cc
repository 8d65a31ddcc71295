// Thread tokens and the running snapshot's hand-over.
#include "containers/hold.h"

namespace nosql_db {

thread_local uint32_t thread_token_value [[gnu::tls_model("initial-exec")]] = 0;

uint32_t new_thread_token() noexcept {
  static std::atomic<uint32_t> tokens{0};
  uint32_t t;
  do t = tokens.fetch_add(1, std::memory_order_relaxed) + 1;
  while (t == 0);
  thread_token_value = t;
  return t;
}

std::atomic<uint64_t> running_snapshot{0};
std::atomic<snapshot_sink*> snapshot_target{nullptr};

void settle_snapshot(const ab_adt& c, uint64_t e) {
  if (snapshot_sink* sink = snapshot_target.load(std::memory_order_acquire)) sink->keep(c, e);
  c.snapshot_epoch().store(e, std::memory_order_relaxed);
}

}  // namespace nosql_db
