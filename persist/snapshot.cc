// The consistent walk, and the sink that keeps copies of the containers
// writers change before the walk reaches them.
#include "persist/snapshot.h"

#include <mutex>
#include <unordered_map>

#include "containers/hold.h"

namespace nosql_db {
namespace {

// Keeps copies for the running walk, keyed by the containers' serial
// numbers (a container made meanwhile in another store, by a recovery,
// only leaves a copy nobody asks for, dropped with the rest).
class copy_keeper final : public snapshot_sink {
 public:
  void keep(const ab_adt& c, uint64_t e) override {
    bool extras;
    {
      std::lock_guard l(m_);
      if (e != epoch_) return;  // a walk that is over
      extras = extras_;
    }
    std::string copy;
    dump_out out(&copy);
    write_body(out, c, extras);
    std::lock_guard l(m_);
    if (e == epoch_) copies_.insert_or_assign(c.serial(), std::move(copy));
  }
  void begin(uint64_t e, bool extras) {
    std::lock_guard l(m_);
    copies_.clear();
    epoch_ = e;
    extras_ = extras;
  }
  void end() noexcept {
    std::lock_guard l(m_);
    epoch_ = 0;
    copies_ = {};
  }
  // The copy kept of c, moved out (empty optional: none).
  bool take(const ab_adt& c, std::string* out) {
    std::lock_guard l(m_);
    auto it = copies_.find(c.serial());
    if (it == copies_.end()) return false;
    *out = std::move(it->second);
    copies_.erase(it);
    return true;
  }

 private:
  std::mutex m_;
  uint64_t epoch_ = 0;
  bool extras_ = false;
  std::unordered_map<uint64_t, std::string> copies_;
};

// Process-wide: the sink outlives every writer that may still call it.
copy_keeper& keeper() {
  static copy_keeper* k = new copy_keeper();
  return *k;
}
std::mutex walk_mutex;
uint64_t last_epoch = 0;  // under walk_mutex

}  // namespace

void write_body(dump_out& out, const ab_adt& c, bool with_extras) {
  if (!c.save(out)) out.fail();
  if (!with_extras) return;
  std::string extras;
  dump_out e(&extras);
  c.save_extras(e);
  out.put_text(extras);
}

bool walk_snapshot(const store& s, const snapshot_walk& w) {
  std::lock_guard one(walk_mutex);
  const uint64_t e = ++last_epoch;
  copy_keeper& k = keeper();
  k.begin(e, w.with_extras);
  struct ender {
    copy_keeper& k;
    ~ender() { k.end(); }
  } end_keeping{k};
  snapshot_target.store(&k, std::memory_order_release);
  if (w.at_instant) w.at_instant(e);
  running_snapshot.store(e, std::memory_order_release);
  std::string copy;
  for (uint64_t v = 0, left = s.container_count(); v < store::slot_count && left > 0; ++v) {
    const ab_adt* c = s.at(v);
    if (!c) continue;
    --left;
    if (c->is_placeholder()) continue;  // no body to save
    read_guard g(c->lock());
    // A writer that took c after the instant handed it over and marked it.
    if (c->snapshot_epoch().load(std::memory_order_relaxed) == e && k.take(*c, &copy)) {
      if (!w.container(v, *c, &copy)) return false;
      continue;
    }
    c->snapshot_epoch().store(e, std::memory_order_relaxed);
    if (!w.container(v, *c, nullptr)) return false;
  }
  return true;
}

}  // namespace nosql_db
