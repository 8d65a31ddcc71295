// Buffered dump writer and bounded dump reader over file descriptors.
#include "lang/codec.h"

#include "lang/crc32c.h"
#include "lang/io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace nosql_db {
namespace {

constexpr uint64_t buffer_size = 1 << 20;
// Bytes handed to the kernel between two requests to start writing them
// back to disk.
constexpr uint64_t writeback_step = 8 << 20;

bool write_all(int fd, const char* p, uint64_t n) {
  while (n > 0) {
    const ssize_t w = io.write(fd, p, n > (1u << 30) ? (1u << 30) : n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (w == 0) return false;
    p += w;
    n -= static_cast<uint64_t>(w);
  }
  return true;
}

}  // namespace

dump_out::dump_out(int fd) : fd_(fd), buf_(new char[buffer_size]), capacity_(buffer_size) {}

// No buffer: every put takes the slow path, which appends.
dump_out::dump_out(std::string* memory) noexcept : fd_(-1), memory_(memory), capacity_(0) {}

dump_out::~dump_out() = default;

void dump_out::put_bytes_slow(const void* p, uint64_t n) {
  if (!ok_ || n == 0) return;
  const char* s = static_cast<const char*>(p);
  if (memory_) {
    memory_->append(s, n);
    crc_ = crc32c_extend(crc_, s, n);
    written_ += n;
    return;
  }
  if (!flush()) return;
  if (n >= buffer_size) {
    ok_ = write_out(s, n);
    if (!ok_) capacity_ = 0;
    return;
  }
  std::memcpy(buf_.get(), s, n);
  used_ = n;
}

// Every writeback_step bytes, the kernel is asked to start writing them to
// disk while the dump goes on, so the fsync that ends a dump waits for the
// last few megabytes instead of the whole file. The request is only a hint:
// its failure (a pipe, a file system without it) changes nothing, and the
// fsync still checks every byte.
bool dump_out::write_out(const char* p, uint64_t n) {
  while (n > 0) {
    const uint64_t step = std::min(n, writeback_step);
    if (!write_all(fd_, p, step)) return false;
    crc_ = crc32c_extend(crc_, p, step);
    p += step;
    n -= step;
    written_ += step;
#if defined(__linux__)
    if (written_ - started_ >= writeback_step) {
      ::sync_file_range(fd_, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_),
                        SYNC_FILE_RANGE_WRITE);
      started_ = written_;
    }
#endif
  }
  return true;
}

bool dump_out::flush() {
  if (!ok_) return false;
  if (used_ > 0) ok_ = write_out(buf_.get(), used_);
  used_ = 0;
  if (!ok_) capacity_ = 0;
  return ok_;
}

dump_in::dump_in(int fd, uint64_t size)
    : fd_(fd), size_(size), remaining_(size), buf_(new char[buffer_size]), data_(buf_.get()) {}

dump_in::dump_in(const char* p, uint64_t n) noexcept : fd_(-1), size_(n), remaining_(n), data_(p), end_(n) {}

dump_in::~dump_in() = default;

bool dump_in::refill() {
  if (fd_ < 0) return false;
  pos_ = end_ = 0;
  while (true) {
    const ssize_t r = ::read(fd_, buf_.get(), buffer_size);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    end_ = static_cast<uint64_t>(r);
    return true;
  }
}

bool dump_in::get_bytes(void* p, uint64_t n) {
  if (n > remaining_) return false;
  char* d = static_cast<char*>(p);
  while (n > 0) {
    if (pos_ == end_) {
      // Large reads go straight to their destination.
      if (n >= buffer_size && fd_ >= 0) {
        const ssize_t r = ::read(fd_, d, n > (1u << 30) ? (1u << 30) : n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        d += r;
        n -= static_cast<uint64_t>(r);
        remaining_ -= static_cast<uint64_t>(r);
        continue;
      }
      if (!refill()) return false;
    }
    const uint64_t k = end_ - pos_ < n ? end_ - pos_ : n;
    std::memcpy(d, data_ + pos_, k);
    pos_ += k;
    d += k;
    n -= k;
    remaining_ -= k;
  }
  return true;
}

bool dump_in::get_text(xstring* out) {
  uint64_t n;
  if (!get_u64(&n) || n > remaining_) return false;
  out->resize(n);
  return n == 0 || get_bytes(out->data(), n);
}

}  // namespace nosql_db
