// The journal of durable mode: the store's changes since its last
// checkpoint, one record each, appended to files named
// journal-<sequence>.vxjl (the sequence of the checkpoint they follow, 16
// hex digits).
//
// Format: docs/FORMATS.md, "Journal file". A file is a 32-byte header and
// records; a record frames itself with a CRC-32C and its length. The file
// grows in steps whose room is allocated on disk first, and records are
// copied into a shared mapping of it: once copied, a record is the
// kernel's, and survives the process. Syncs make it survive the machine:
//   none    never (but at a checkpoint and at close);
//   batch   the first change 50 ms or more after the last sync syncs;
//   always  each change waits until it is on disk; the waiting writers
//           share one fdatasync (the first to find none running does it
//           for everything appended so far).
// After each sync the header notes how far the file is synced; recovery
// trusts no record before that mark to be torn.
//
// Records are appended one at a time under the journal's own lock, so a
// killed process can leave only its last record torn. Room for a record is
// reserved before the change is made: a full disk fails the change, not
// the journal. A failed sync stops the journal: later changes fail too,
// until durable mode is opened again.
//
// During a checkpoint two files take records: the one the checkpoint will
// supersede, from writers that saw an earlier snapshot epoch, and the next
// one, from writers that saw the checkpoint's.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "catalog/store.h"

namespace nosql_db {

enum class sync_mode : int32_t { none = 0, batch = 1, always = 2 };

std::string journal_name(uint64_t seq);

class journal final : public change_log {
 public:
  // Opens the journal of sequence seq in the directory dir_fd, its valid
  // records ending at `end` (0: a new file, made now). The bytes after end
  // are cleared. Null, with the reason recorded, on failure.
  static std::unique_ptr<journal> open(int dir_fd, uint64_t seq, uint64_t end, sync_mode mode);
  ~journal();

  bool reserve(uint64_t epoch, uint64_t n) override;
  void unreserve(uint64_t epoch, uint64_t n) noexcept override;
  ticket append(uint64_t epoch, std::string_view record) noexcept override;
  ticket append_within(uint64_t epoch, std::string_view record, uint64_t reserved) noexcept override;
  bool settle(ticket t) override;

  // A checkpoint's instant: starts file seq, which takes the records of
  // writers that see snapshot epoch `from_epoch` or a later one. False,
  // with the reason recorded, when the file cannot be made.
  bool begin_next(uint64_t seq, uint64_t from_epoch);
  // The checkpoint is over: the earlier file is deleted when it is
  // superseded, otherwise synced and kept (recovery still needs it).
  void end_previous(bool superseded);
  uint64_t sequence() const;
  // Syncs every record appended so far; false (reason recorded) on failure.
  bool sync_all();

 private:
  struct file;
  journal(int dir_fd, sync_mode mode);
  file* file_for(uint64_t epoch) noexcept;
  file* file_of(uint64_t seq) noexcept;
  bool grow(file& f, uint64_t need);
  bool sync(file& f, uint64_t end, std::unique_lock<std::mutex>& l);
  void gather(std::unique_lock<std::mutex>& l);

  int dir_fd_;
  sync_mode mode_;
  mutable std::mutex m_;
  std::condition_variable synced_;
  // Group commit (sync always): the threads that appended lately (a token
  // and a time each), and the records appended since the last sync began.
  // A sync leader waits a moment until there is a record from each of
  // those threads, so that one sync takes them all instead of one each.
  struct recent_writer {
    uint32_t token = 0;
    int64_t ns = 0;
  };
  recent_writer recent_[8];
  uint32_t unsynced_ = 0;
  bool gathering_ = false;
  std::condition_variable gathered_;
  uint32_t active_writers(int64_t now) const noexcept;
  std::unique_ptr<file> cur_, prev_;
  uint64_t from_epoch_ = 0;  // cur_ takes epochs from here on while prev_ lives
  bool failed_ = false;
  int64_t next_batch_sync_ns_ = 0;
};

// Recovery's reading of a journal file. Calls each(record) for each valid
// record in order and sets *end to where they end. A record that is torn or
// damaged where the file was synced, or that each() refuses, fails the
// read: false, with the reason (durable_damaged, the file's name and the
// offset) recorded. A bad record after the synced part is the torn tail
// that a crash leaves: the records end there.
bool read_journal(int dir_fd, uint64_t seq, const std::function<bool(std::string_view)>& each, uint64_t* end);

}  // namespace nosql_db
