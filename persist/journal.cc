// The journal's files: header, framing, growth, appends, syncs, and the
// reading that recovery does. Format: docs/FORMATS.md, "Journal file".
#include "persist/journal.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "containers/container.h"
#include "lang/crc32c.h"
#include "lang/failure.h"
#include "lang/io.h"
#include "persist/files.h"

namespace nosql_db {
namespace {

constexpr char magic[4] = {'v', 'x', 'j', 'l'};
constexpr uint8_t version = 0;
constexpr uint64_t header_size = 32;
constexpr uint64_t frame_size = 8;                 // CRC-32C and length
// A file is mapped once, as far as it may ever grow: max_reach when the
// address space allows, else the largest power of two that it does (a
// host under an address-space limit, a sanitizer's reserved ranges), down
// to min_reach. A file that reaches its mapping's end takes no more
// records until a checkpoint starts the next one.
constexpr uint64_t max_reach = uint64_t{1} << 40;
constexpr uint64_t min_reach = uint64_t{64} << 20;
constexpr uint64_t first_step = uint64_t{1} << 20;
constexpr uint64_t max_step = uint64_t{64} << 20;
constexpr int64_t batch_interval_ns = 50'000'000;

int64_t now_ns(clockid_t clock = CLOCK_MONOTONIC) noexcept {
  timespec t;
  clock_gettime(clock, &t);
  return int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

void put32(char* p, uint32_t v) noexcept { std::memcpy(p, &v, 4); }
void put64(char* p, uint64_t v) noexcept { std::memcpy(p, &v, 8); }
uint32_t get32(const char* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
uint64_t get64(const char* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// The header: magic, version, three zero bytes, sequence, synced end, the
// CRC-32C of the first 16 bytes, the CRC-32C of the synced end. The first
// 16 bytes are written once, when the file is made, before it holds a
// record. The synced end is rewritten after every sync, each field by one
// aligned store: a process killed between the two stores leaves a synced
// end whose check fails, which a reader takes as no synced end at all.
void make_header(char* h, uint64_t seq) noexcept {
  std::memset(h, 0, header_size);
  std::memcpy(h, magic, 4);
  h[4] = static_cast<char>(version);
  put64(h + 8, seq);
  put32(h + 24, crc32c(h, 16));
}
void write_synced(char* h, uint64_t synced) noexcept {
  char b[8];
  put64(b, synced);
  std::atomic_ref<uint64_t>(*reinterpret_cast<uint64_t*>(h + 16)).store(get64(b), std::memory_order_relaxed);
  std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(h + 28)).store(crc32c(b, 8), std::memory_order_relaxed);
}
// The fixed part of a header checks out for file seq.
bool header_ok(const char* h, uint64_t seq) noexcept {
  return std::memcmp(h, magic, 4) == 0 && h[4] == static_cast<char>(version) && get32(h + 24) == crc32c(h, 16) &&
         get64(h + 8) == seq;
}
// The synced end, or header_size when its check fails.
uint64_t synced_end(const char* h) noexcept {
  return get32(h + 28) == crc32c(h + 16, 8) ? get64(h + 16) : header_size;
}

bool journal_failure(const char* what) { return fail(failure::journal_failed, what); }

// The room of a file from `from` to `to`, allocated on disk.
bool allocate(int fd, uint64_t from, uint64_t to) {
  const auto off = static_cast<off_t>(from), len = static_cast<off_t>(to - from);
  if (io.fallocate(fd, 0, off, len) == 0) return true;
  if (errno != EOPNOTSUPP) return false;
  return ::posix_fallocate(fd, off, len) == 0;  // a file system without it: zeros written
}

}  // namespace

struct journal::file {
  uint64_t seq = 0;
  int fd = -1;
  char* map = nullptr;
  uint64_t reach = 0;      // bytes mapped at map
  uint64_t allocated = 0;  // bytes of the file, all allocated on disk
  uint64_t tail = 0;       // end of the records appended
  uint64_t reserved = 0;   // room promised to changes not yet appended
  uint64_t synced = 0;     // end of the records known to be on disk
  bool syncing = false;
  // Sync mode always: the records after `copied` wait in `pending` for the
  // next sync to copy them into the file, so that no writer ever writes to
  // a page that a sync is writing back (which waits for the disk).
  uint64_t copied = 0;
  std::string pending;
  // Threads inside settle() for this file, which a file must outlive.
  uint32_t users = 0;

  file() = default;
  file(const file&) = delete;
  file& operator=(const file&) = delete;
  ~file() {
    if (map) ::munmap(map, reach);
    if (fd >= 0) ::close(fd);
  }
  // Maps the file as far as the address space allows, and at least past
  // its `size` bytes and one step of growth.
  bool map_room(uint64_t size) noexcept {
    for (uint64_t r = max_reach; r >= min_reach && r > size + first_step; r /= 2) {
      void* m = ::mmap(nullptr, r, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (m != MAP_FAILED) {
        map = static_cast<char*>(m);
        reach = r;
        return true;
      }
    }
    return false;
  }
  // Notes in the header how far the file is synced (on disk with the next
  // sync).
  void note_synced() noexcept { write_synced(map, synced); }
};

std::string journal_name(uint64_t seq) {
  char b[40];
  std::snprintf(b, sizeof b, "journal-%016llx.vxjl", static_cast<unsigned long long>(seq));
  return b;
}

journal::journal(int dir_fd, sync_mode mode) : dir_fd_(dir_fd), mode_(mode) {}
journal::~journal() = default;

std::unique_ptr<journal> journal::open(int dir_fd, uint64_t seq, uint64_t end, sync_mode mode) {
  std::unique_ptr<journal> j(new journal(dir_fd, mode));
  if (!j->begin_next(seq, 0)) return nullptr;
  if (end >= header_size) {
    // Continue after the records recovery found, dropping what follows
    // them (a torn tail) so that nothing stale ever follows a new record.
    file& f = *j->cur_;
    if (::ftruncate(f.fd, static_cast<off_t>(end)) != 0 || !allocate(f.fd, end, end + first_step) ||
        io.fdatasync(f.fd) != 0)
      return journal_failure("write"), nullptr;
    f.allocated = end + first_step;
    f.tail = f.synced = f.copied = end;
    f.note_synced();
  }
  j->next_batch_sync_ns_ = now_ns(CLOCK_MONOTONIC_COARSE) + batch_interval_ns;
  return j;
}

bool journal::begin_next(uint64_t seq, uint64_t from_epoch) {
  const std::string name = journal_name(seq);
  auto f = std::make_unique<file>();
  f->seq = seq;
  f->fd = ::openat(dir_fd_, name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (f->fd < 0) return journal_failure("create");
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return journal_failure("create");
  if (!f->map_room(static_cast<uint64_t>(st.st_size))) return journal_failure("map");
  if (st.st_size < static_cast<off_t>(header_size) || !header_ok(f->map, seq)) {
    // A new file, or one whose header a kill kept from being written whole
    // (recovery found no record in it): its header, synced, and its name,
    // synced.
    if (::ftruncate(f->fd, 0) != 0 || !allocate(f->fd, 0, first_step)) return journal_failure("no space");
    f->allocated = first_step;
    f->tail = f->synced = f->copied = header_size;
    make_header(f->map, seq);
    f->note_synced();
    if (io.fdatasync(f->fd) != 0 || !sync_dir_fd(dir_fd_)) return journal_failure("sync");
  } else {
    f->allocated = static_cast<uint64_t>(st.st_size);
  }
  std::lock_guard l(m_);
  if (cur_) {
    prev_ = std::move(cur_);
    from_epoch_ = from_epoch;
  }
  cur_ = std::move(f);
  return true;
}

void journal::end_previous(bool superseded) {
  std::unique_ptr<file> old;
  {
    std::unique_lock l(m_);
    if (!prev_) return;
    // A sync of it may be running, and writers may be waiting for one:
    // wait until nobody uses it. Nobody starts to: what is appended from
    // now on goes to the current file.
    synced_.wait(l, [&] { return !prev_->syncing && prev_->users == 0; });
    old = std::move(prev_);
    if (!superseded) {
      // It stays the journal of the checkpoint before: the records that
      // wait for a sync go into it, and all of it to the disk, before its
      // writers are told (by its absence) that it is safe.
      std::memcpy(old->map + old->copied, old->pending.data(), old->pending.size());
      old->copied += old->pending.size();
      old->pending.clear();
      if (io.fdatasync(old->fd) == 0) {
        old->synced = old->tail;
        old->note_synced();
        if (io.fdatasync(old->fd) == 0) return;
      }
      failed_ = true;
      return;
    }
  }
  ::unlinkat(dir_fd_, journal_name(old->seq).c_str(), 0);
}

uint64_t journal::sequence() const {
  std::lock_guard l(m_);
  return cur_->seq;
}

journal::file* journal::file_for(uint64_t epoch) noexcept {
  return prev_ && epoch < from_epoch_ ? prev_.get() : cur_.get();
}

journal::file* journal::file_of(uint64_t seq) noexcept {
  if (cur_ && cur_->seq == seq) return cur_.get();
  if (prev_ && prev_->seq == seq) return prev_.get();
  return nullptr;
}

bool journal::grow(file& f, uint64_t need) {
  const uint64_t want = f.tail + f.reserved + need;
  if (want > f.reach) return journal_failure("full: take a checkpoint");
  uint64_t step = f.allocated < max_step ? f.allocated : max_step;
  if (step < first_step) step = first_step;
  uint64_t to = f.allocated + step;
  if (to < want) to = want;
  if (to > f.reach) to = f.reach;
  if (!allocate(f.fd, f.allocated, to)) return journal_failure(errno == ENOSPC ? "no space" : "write");
  f.allocated = to;
  return true;
}

bool journal::reserve(uint64_t epoch, uint64_t n) {
  std::lock_guard l(m_);
  if (failed_) return journal_failure("stopped after a failed sync");
  file& f = *file_for(epoch);
  const uint64_t need = frame_size + n;
  if (n > UINT32_MAX) return journal_failure("record too long");
  if (f.tail + f.reserved + need > f.allocated && !grow(f, need)) return false;
  // Room in memory too, where records wait for their sync: append cannot
  // fail.
  if (mode_ == sync_mode::always) f.pending.reserve(f.pending.size() + f.reserved + need);
  f.reserved += need;
  return true;
}

void journal::unreserve(uint64_t epoch, uint64_t n) noexcept {
  std::lock_guard l(m_);
  file_for(epoch)->reserved -= frame_size + n;
}

change_log::ticket journal::append(uint64_t epoch, std::string_view record) noexcept {
  char frame[frame_size];
  put32(frame + 4, static_cast<uint32_t>(record.size()));
  put32(frame, crc32c_extend(crc32c(frame + 4, 4), record.data(), record.size()));
  std::lock_guard l(m_);
  file& f = *file_for(epoch);
  if (mode_ == sync_mode::always) {
    f.pending.append(frame, frame_size);  // within the room reserved
    f.pending.append(record.data(), record.size());
  } else {
    std::memcpy(f.map + f.tail, frame, frame_size);
    std::memcpy(f.map + f.tail + frame_size, record.data(), record.size());
    f.copied = f.tail + frame_size + record.size();
  }
  const uint64_t need = frame_size + record.size();
  f.tail += need;
  f.reserved -= need;
  if (mode_ == sync_mode::always) {
    // This thread writes lately.
    const uint32_t me = thread_token();
    const int64_t now = now_ns();
    recent_writer* slot = &recent_[0];
    for (recent_writer& r : recent_) {
      if (r.token == me) {
        slot = &r;
        break;
      }
      if (r.ns < slot->ns) slot = &r;
    }
    *slot = {me, now};
    ++unsynced_;
    if (gathering_ && unsynced_ >= active_writers(now)) gathered_.notify_one();
  }
  return {f.seq, f.tail};
}

change_log::ticket journal::append_within(uint64_t epoch, std::string_view record, uint64_t reserved) noexcept {
  {
    std::lock_guard l(m_);
    file_for(epoch)->reserved -= reserved - record.size();
  }
  return append(epoch, record);
}

// The threads that appended in the last 2 ms.
uint32_t journal::active_writers(int64_t now) const noexcept {
  uint32_t n = 0;
  for (const recent_writer& r : recent_) n += r.token != 0 && now - r.ns < 2'000'000 ? 1 : 0;
  return n;
}

// Waits, at most a third of a millisecond, until the records waiting for a
// sync are as many as the threads that write lately (a lone writer never
// waits). REQUIRES l to hold m_.
void journal::gather(std::unique_lock<std::mutex>& l) {
  const auto enough = [&] { return unsynced_ >= active_writers(now_ns()); };
  if (enough()) return;
  gathering_ = true;
  gathered_.wait_for(l, std::chrono::microseconds(300), enough);
  gathering_ = false;

}

// Makes f synced up to `end`: leads a sync of every record appended so far
// when none runs, otherwise waits for the one running, until `end` is
// synced or the journal failed. Waiters look at what is synced, not only
// at whether a sync runs: a sync that took their records may be followed
// at once by another one. REQUIRES l to hold m_.
bool journal::sync(file& f, uint64_t end, std::unique_lock<std::mutex>& l) {
  while (f.synced < end && !failed_) {
    if (f.syncing) {
      synced_.wait(l, [&] { return f.synced >= end || !f.syncing || failed_; });
      continue;
    }
    f.syncing = true;
    if (mode_ == sync_mode::always) gather(l);
    const uint64_t target = f.tail, at = f.copied;
    unsynced_ = 0;
    std::string records;
    records.swap(f.pending);
    l.unlock();
    std::memcpy(f.map + at, records.data(), records.size());
    const bool ok = io.fdatasync(f.fd) == 0;
    l.lock();
    f.syncing = false;
    f.copied = at + records.size();
    if (f.pending.empty()) {
      records.clear();
      f.pending.swap(records);  // its room serves again
    }
    if (ok) {
      if (target > f.synced) f.synced = target;
      f.note_synced();
    } else {
      failed_ = true;
    }
    synced_.notify_all();
  }
  return !failed_;
}

bool journal::settle(ticket t) {
  std::unique_lock l(m_);
  if (mode_ == sync_mode::none) return true;
  file* f = file_of(t.file);
  // A file that is gone was superseded by a checkpoint on disk.
  if (!f) return true;
  if (mode_ == sync_mode::batch) {
    const int64_t now = now_ns(CLOCK_MONOTONIC_COARSE);
    if (now < next_batch_sync_ns_ || f->syncing) return true;
    next_batch_sync_ns_ = now + batch_interval_ns;
  }
  ++f->users;
  const bool ok = sync(*f, t.end, l);
  if (--f->users == 0) synced_.notify_all();
  return ok || journal_failure("sync");
}

bool journal::sync_all() {
  std::unique_lock l(m_);
  for (file* f : {prev_.get(), cur_.get()}) {
    if (!f) continue;
    if (!sync(*f, f->tail, l)) return journal_failure("sync");
    synced_.wait(l, [&] { return !f->syncing; });
    // The mark itself, on disk too.
    if (io.fdatasync(f->fd) != 0) return journal_failure("sync");
  }
  return true;
}

namespace {

// The file's bytes, mapped for reading.
class mapped_file {
 public:
  mapped_file(int dir_fd, const std::string& name) {
    fd_ = ::openat(dir_fd, name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return;
    size_ = static_cast<uint64_t>(st.st_size);
    if (size_ == 0) {
      ok_ = true;
      return;
    }
    void* m = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
    if (m == MAP_FAILED) return;
    p_ = static_cast<const char*>(m);
    ok_ = true;
  }
  ~mapped_file() {
    if (p_) ::munmap(const_cast<char*>(p_), size_);
    if (fd_ >= 0) ::close(fd_);
  }
  mapped_file(const mapped_file&) = delete;
  mapped_file& operator=(const mapped_file&) = delete;
  bool ok() const noexcept { return ok_; }
  const char* data() const noexcept { return p_; }
  uint64_t size() const noexcept { return size_; }

 private:
  int fd_ = -1;
  const char* p_ = nullptr;
  uint64_t size_ = 0;
  bool ok_ = false;
};

// The damage: the file's name as detail and the offset as record.
bool damage(const std::string& name, uint64_t offset) {
  return fail(failure::durable_damaged, thread_detail(name), offset);
}

}  // namespace

bool read_journal(int dir_fd, uint64_t seq, const std::function<bool(std::string_view)>& each, uint64_t* end) {
  const std::string name = journal_name(seq);
  const mapped_file m(dir_fd, name);
  if (!m.ok()) return damage(name, 0);
  const char* p = m.data();
  const uint64_t size = m.size();
  if (size == 0) {
    *end = 0;
    return true;
  }
  if (size < header_size || !header_ok(p, seq)) {
    // A file a kill left while its header was being written holds no
    // record: nothing follows the header. Anything else is damage.
    const uint64_t first = std::min<uint64_t>(size, header_size + frame_size);
    if (std::all_of(p + std::min<uint64_t>(size, header_size), p + first, [](char c) { return c == 0; })) {
      *end = 0;
      return true;
    }
    return damage(name, 0);
  }
  const uint64_t synced = synced_end(p);
  uint64_t pos = header_size;
  while (true) {
    bool whole = pos + frame_size <= size;
    uint64_t len = 0;
    if (whole) {
      len = get32(p + pos + 4);
      whole = len >= 1 && len <= size - pos - frame_size && get32(p + pos) == crc32c(p + pos + 4, 4 + len);
    }
    if (!whole) {
      // Torn or damaged: the end of the records, unless the file was
      // synced past it.
      if (pos < synced) return damage(name, pos);
      *end = pos;
      return true;
    }
    if (!each(std::string_view(p + pos + frame_size, len))) {
      // What the record failed with, where it is.
      return fail(failure::durable_damaged, thread_detail(name + ": " + thread_failure.detail), pos);
    }
    pos += frame_size + len;
  }
}

}  // namespace nosql_db
