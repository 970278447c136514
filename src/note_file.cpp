#include "note_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// Reading is binary so that a stray Ctrl-Z does not end the note early; CR LF is handled by
// hand. Writing is text mode, so a line end inside a note is stored as CR LF.
constexpr int read_flags = _O_RDONLY | _O_BINARY;
constexpr int write_flags = _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT;
constexpr int create_flags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT;
constexpr int new_file_mode = _S_IREAD | _S_IWRITE;
using file_stat = struct _stat64;
int stat_of(int fd, file_stat* st) {
  return _fstat64(fd, st);
}
std::int64_t seek_here(int fd) {
  return _lseeki64(fd, 0, SEEK_CUR);
}
#else
constexpr int read_flags = O_RDONLY | O_CLOEXEC;
constexpr int write_flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
constexpr int create_flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
constexpr mode_t new_file_mode = 0666;
using file_stat = struct stat;
int stat_of(int fd, file_stat* st) {
  return fstat(fd, st);
}
std::int64_t seek_here(int fd) {
  return lseek(fd, 0, SEEK_CUR);
}
#endif

// Touching fresh memory one small page at a time is what a note of hundreds of megabytes costs
// most, far more than copying it; huge pages take that cost away where the system offers them.
void advise_huge(const char* p, std::size_t n) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
  if (n < 2 * huge) {
    return;
  }
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): madvise works on addresses
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const auto first = (at + huge - 1) & ~(huge - 1);
  const auto last = (at + n) & ~(huge - 1);
  if (first < last) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast,performance-no-int-to-ptr)
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#else
  static_cast<void>(p);
  static_cast<void>(n);
#endif
}

// One call moves at most this much, which fits every platform's count type.
constexpr std::size_t max_io = std::size_t{1} << 30;

// Large enough that a long line costs few system calls, small enough to stay in cache.
constexpr std::size_t block = std::size_t{1} << 16;

std::error_code last_error() {
  return {errno, std::generic_category()};
}

// Closes the descriptor when it goes out of scope.
struct file {
  int fd;
  explicit file(int d) : fd(d) {}
  file(const file&) = delete;
  file& operator=(const file&) = delete;
  file(file&&) = delete;
  file& operator=(file&&) = delete;
  ~file() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

// A failed close can be the only sign that written data did not reach the file.
std::error_code close_file(file& f) {
  const int fd = f.fd;
  f.fd = -1;
  return ::close(fd) == 0 ? std::error_code{} : last_error();
}

std::string without_cr(std::string line) {
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  return line;
}

// Makes room in `s` for `extra` more bytes, growing it geometrically. Large buffers are backed
// by huge pages where the system has them, which makes filling them several times cheaper.
void grow(std::string& s, std::size_t extra) {
  if (s.capacity() - s.size() >= extra) {
    return;
  }
  // A fresh buffer, advised before anything touches it, then filled: growing in place would
  // touch the new pages before the advice could be given.
  std::string bigger;
  bigger.reserve(std::max(s.capacity() * 2, s.size() + extra));
  advise_huge(bigger.data(), bigger.capacity());
  bigger.append(s);
  s.swap(bigger);
}

} // namespace

std::int64_t read_some(int fd, char* p, std::size_t n) {
  for (;;) {
    const auto got = ::read(fd, p, static_cast<unsigned>(std::min(n, max_io)));
    if (got >= 0 || errno != EINTR) {
      return got;
    }
  }
}

void reserve_rest(int fd, std::string& s) {
  // The reservation only claims address space; the cap keeps a huge file from asking for more
  // than the system would grant, and a longer text still grows past it.
  constexpr std::int64_t cap = std::int64_t{1} << 30;
  file_stat st{};
  if (stat_of(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return;
  }
  const std::int64_t at = seek_here(fd);
  if (at >= 0 && st.st_size > at) {
    // One byte more lets the read that meets the end of the file do so without growing.
    grow(s, static_cast<std::size_t>(std::min<std::int64_t>(st.st_size - at, cap)) + 1);
  }
}

std::int64_t read_onto(int fd, std::string& s, std::size_t n) {
  // Room already reserved is filled before the string grows again.
  const std::size_t spare = s.capacity() - s.size();
  if (spare == 0) {
    grow(s, n);
  } else {
    n = std::min(n, spare);
  }
  const std::size_t old = s.size();
  s.resize(old + n);
  const auto got = read_some(fd, s.data() + old, n);
  s.resize(old + static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
  return got;
}

std::string read_note(const std::string& name) {
  const file f{::open(name.c_str(), read_flags)};
  if (f.fd < 0) {
    return {};
  }
  // Most notes fit the first read, which then needs no allocation beyond the note itself. It is
  // one page: each further page of buffer would cost a page fault, whatever the file holds.
  std::array<char, 4096> buf; // NOLINT(cppcoreguidelines-pro-type-member-init): filled by read
  auto got = read_some(f.fd, buf.data(), buf.size());
  if (got <= 0) {
    return {};
  }
  const auto* lf = static_cast<const char*>(std::memchr(buf.data(), '\n', got));
  if (lf != nullptr) {
    return without_cr(std::string(buf.data(), static_cast<std::size_t>(lf - buf.data())));
  }
  std::string fc(buf.data(), static_cast<std::size_t>(got));
  reserve_rest(f.fd, fc);
  for (;;) {
    got = read_onto(f.fd, fc, block);
    if (got < 0) {
      return {};
    }
    if (got == 0) {
      return fc;
    }
    const char* fresh = fc.data() + fc.size() - got;
    lf = static_cast<const char*>(std::memchr(fresh, '\n', got));
    if (lf != nullptr) {
      fc.resize(static_cast<std::size_t>(lf - fc.data()));
      return without_cr(std::move(fc));
    }
  }
}

std::error_code write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const auto put = ::write(fd, data.data(), static_cast<unsigned>(std::min(data.size(), max_io)));
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      return last_error();
    }
    if (put == 0) {
      return std::make_error_code(std::errc::io_error);
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return {};
}

std::error_code write_note(const std::string& name, std::string_view text) {
  file fw{::open(name.c_str(), write_flags, new_file_mode)};
  if (fw.fd < 0) {
    return last_error();
  }
  if (auto err = write_all(fw.fd, text)) {
    return err;
  }
  return close_file(fw);
}

std::error_code create_note(const std::string& name) {
  file fw{::open(name.c_str(), create_flags, new_file_mode)};
  if (fw.fd < 0) {
    return errno == EEXIST ? std::error_code{} : last_error();
  }
  return close_file(fw);
}
