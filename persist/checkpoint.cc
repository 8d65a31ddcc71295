// Writing and reading checkpoint files. Format: docs/FORMATS.md,
// "Checkpoint file".
#include "persist/checkpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "lang/codec.h"
#include "lang/crc32c.h"
#include "lang/failure.h"
#include "lang/io.h"
#include "persist/dump.h"
#include "persist/files.h"
#include "persist/snapshot.h"

namespace nosql_db {
namespace {

constexpr char magic[4] = {'v', 'x', 'c', 'k'};
constexpr uint8_t version = 0;
constexpr uint64_t header_size = 24;  // magic, version, 3 zero bytes, sequence, record count

bool written(dump_out& out, const store& s, uint64_t seq, const std::function<bool(uint64_t)>& at_instant) {
  uint64_t count = 0;
  for (uint64_t v = 0, left = s.container_count(); v < store::slot_count && left > 0; ++v) {
    if (const ab_adt* c = s.at(v)) {
      --left;
      if (!c->is_placeholder()) ++count;
    }
  }
  const char pad[3] = {0, 0, 0};
  out.put_bytes(magic, 4);
  out.put_u8(version);
  out.put_bytes(pad, 3);
  out.put_u64(seq);
  out.put_u64(count);
  bool instant_ok = true;
  snapshot_walk w;
  w.with_extras = true;
  w.at_instant = [&](uint64_t e) { instant_ok = at_instant(e); };
  w.container = [&](uint64_t v, const ab_adt& c, const std::string* copy) {
    if (!instant_ok) return false;
    out.put_text(c.name().view());
    out.put_u64(v);
    if (copy) out.put_bytes(copy->data(), copy->size());
    else write_body(out, c, true);
    return out.ok();
  };
  if (!walk_snapshot(s, w) || !instant_ok) return false;
  const std::vector<uint32_t> prefix = s.free_prefix();
  out.put_u64(prefix.size());
  for (uint32_t v : prefix) out.put_u32(v);
  if (!out.flush()) return false;
  out.put_u32(out.crc());
  return out.flush();
}

bool damage(const std::string& name, uint64_t offset, const char* what) {
  return fail(failure::durable_damaged, thread_detail(name + ": " + what), offset);
}

// The CRC-32C of the file's bytes before its last four, compared with them.
bool checksum_holds(int fd, uint64_t size) {
  if (size < header_size + 12) return false;
  std::unique_ptr<char[]> buf(new char[1 << 20]);
  uint32_t crc = 0;
  uint64_t pos = 0;
  const uint64_t body = size - 4;
  while (pos < body) {
    const uint64_t want = body - pos < (1u << 20) ? body - pos : (1u << 20);
    const ssize_t r = ::pread(fd, buf.get(), want, static_cast<off_t>(pos));
    if (r <= 0) return false;
    crc = crc32c_extend(crc, buf.get(), static_cast<uint64_t>(r));
    pos += static_cast<uint64_t>(r);
  }
  uint32_t stored;
  return ::pread(fd, &stored, 4, static_cast<off_t>(body)) == 4 && stored == crc;
}

}  // namespace

std::string checkpoint_name(uint64_t seq) {
  char b[40];
  std::snprintf(b, sizeof b, "checkpoint-%016llx.vxck", static_cast<unsigned long long>(seq));
  return b;
}

bool write_checkpoint(const store& s, int dir_fd, uint64_t seq, const std::function<bool(uint64_t)>& at_instant) {
  const std::string name = checkpoint_name(seq), tmp = name + ".tmp";
  fd_closer fd(::openat(dir_fd, tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) return fail(failure::checkpoint_failed, "create");
  bool ok;
  {
    dump_out out(fd.get());
    ok = written(out, s, seq, at_instant);
  }
  // The reason of a failed instant (the journal's) is kept.
  if (ok && (io.fsync(fd.get()) != 0 || !fd.close())) ok = fail(failure::checkpoint_failed, "sync");
  if (ok && ::renameat(dir_fd, tmp.c_str(), dir_fd, name.c_str()) != 0) ok = fail(failure::checkpoint_failed, "rename");
  if (ok && !sync_dir_fd(dir_fd)) ok = fail(failure::checkpoint_failed, "sync");
  if (!ok) {
    if (last_failure() == failure::none) fail(failure::checkpoint_failed, "write");
    ::unlinkat(dir_fd, tmp.c_str(), 0);
    ::unlinkat(dir_fd, name.c_str(), 0);
  }
  return ok;
}

bool read_checkpoint(store& s, int dir_fd, uint64_t seq) {
  const std::string name = checkpoint_name(seq);
  fd_closer fd(::openat(dir_fd, name.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return damage(name, 0, "cannot be read");
  const auto size = static_cast<uint64_t>(st.st_size);
  if (!checksum_holds(fd.get(), size)) return damage(name, size >= 4 ? size - 4 : 0, "checksum");
  dump_in in(fd.get(), size - 4);
  char m[4], pad[3];
  uint8_t ver;
  uint64_t file_seq, count;
  if (!in.get_bytes(m, 4) || std::memcmp(m, magic, 4) != 0 || !in.get_u8(&ver) || ver != version ||
      !in.get_bytes(pad, 3) || !in.get_u64(&file_seq) || file_seq != seq || !in.get_u64(&count))
    return damage(name, 0, "header");
  try {
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t at = in.consumed();
      uint64_t v;
      if (!read_record(s, in, i, &v)) return damage(name, at, "record");
      xstring extras;
      if (!in.get_text(&extras)) return damage(name, in.consumed(), "handles");
      dump_in e(extras.data(), extras.size());
      if (!s.at(v)->load_extras(e) || e.remaining() != 0) return damage(name, in.consumed(), "handles");
    }
    uint64_t n;
    if (!in.get_u64(&n) || n > in.remaining() / 4) return damage(name, in.consumed(), "free vkeys");
    std::vector<uint32_t> prefix(n);
    for (uint32_t& v : prefix)
      if (!in.get_u32(&v)) return damage(name, in.consumed(), "free vkeys");
    if (in.remaining() != 0 || !s.set_free_prefix(prefix)) return damage(name, in.consumed(), "free vkeys");
  } catch (const std::bad_alloc&) {
    return fail(failure::out_of_memory);
  }
  return true;
}

}  // namespace nosql_db
