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
int stat_of(int fd, file_stat *st) {
  return _fstat64(fd, st);
}
std::int64_t seek_start(int fd) {
  return _lseeki64(fd, 0, SEEK_SET);
}
#else
constexpr int read_flags = O_RDONLY | O_CLOEXEC;
constexpr int write_flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
constexpr int create_flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
constexpr mode_t new_file_mode = 0666;
using file_stat = struct stat;
int stat_of(int fd, file_stat *st) {
  return fstat(fd, st);
}
std::int64_t seek_start(int fd) {
  return lseek(fd, 0, SEEK_SET);
}
#endif

// One call moves at most this much, which fits every platform's count type.
constexpr std::size_t max_io = std::size_t{1} << 30;

// Large enough that a long line costs few system calls, small enough to stay in cache.
constexpr std::size_t block = std::size_t{1} << 16;

// Reads up to n bytes, retrying when a signal interrupts; 0 at the end, -1 on an error.
std::int64_t read_some(int fd, char *p, std::size_t n) {
  for (;;) {
    const auto got = ::read(fd, p, static_cast<unsigned>(std::min(n, max_io)));
    if (got >= 0 || errno != EINTR) {
      return got;
    }
  }
}

std::error_code last_error() {
  return {errno, std::generic_category()};
}

// Closes the descriptor when it goes out of scope.
struct file {
  int fd;
  explicit file(int d) : fd(d) {}
  file(const file &) = delete;
  file &operator=(const file &) = delete;
  file(file &&) = delete;
  file &operator=(file &&) = delete;
  ~file() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

// A failed close can be the only sign that written data did not reach the file.
std::error_code close_file(file &f) {
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

// A first line longer than one block, in a file that can be read twice: measure the line, then
// read it once more into a string of exactly its size. Growing the string as it is read would
// copy the note and hold up to twice its size at once.
std::string read_long_line(int fd, std::size_t seen, std::array<char, block> &buf) {
  std::size_t length = seen;
  bool ended = false; // by a line end, not by the end of the file
  for (;;) {
    const auto got = read_some(fd, buf.data(), buf.size());
    if (got < 0) {
      return {};
    }
    const auto *end = static_cast<const char *>(std::memchr(buf.data(), '\n', got));
    if (end != nullptr) {
      length += static_cast<std::size_t>(end - buf.data());
      ended = true;
      break;
    }
    length += static_cast<std::size_t>(got);
    if (got == 0) {
      break;
    }
  }
  if (seek_start(fd) != 0) {
    return {};
  }
  std::string line(length, '\0');
  std::size_t have = 0;
  while (have < length) {
    const auto got = read_some(fd, line.data() + have, length - have);
    if (got < 0) {
      return {};
    }
    if (got == 0) {
      // The file shrank in between; what is left of the line is what it now holds.
      line.resize(have);
      break;
    }
    have += static_cast<std::size_t>(got);
  }
  return ended ? without_cr(std::move(line)) : line;
}

} // namespace

std::string read_note(const std::string &name) {
  const file f{::open(name.c_str(), read_flags)};
  if (f.fd < 0) {
    return {};
  }
  std::array<char, block> buf; // NOLINT(cppcoreguidelines-pro-type-member-init): filled by read
  std::string fc;
  for (bool first = true;; first = false) {
    const auto got = read_some(f.fd, buf.data(), buf.size());
    if (got < 0) {
      return {};
    }
    const auto *end = static_cast<const char *>(std::memchr(buf.data(), '\n', got));
    if (end != nullptr) {
      fc.append(buf.data(), static_cast<std::size_t>(end - buf.data()));
      return without_cr(std::move(fc));
    }
    if (got == 0) {
      return fc;
    }
    file_stat st{};
    if (first && stat_of(f.fd, &st) == 0 && S_ISREG(st.st_mode)) {
      return read_long_line(f.fd, static_cast<std::size_t>(got), buf);
    }
    fc.append(buf.data(), static_cast<std::size_t>(got));
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

std::error_code write_note(const std::string &name, std::string_view text) {
  file fw{::open(name.c_str(), write_flags, new_file_mode)};
  if (fw.fd < 0) {
    return last_error();
  }
  if (auto err = write_all(fw.fd, text)) {
    return err;
  }
  return close_file(fw);
}

std::error_code create_note(const std::string &name) {
  file fw{::open(name.c_str(), create_flags, new_file_mode)};
  if (fw.fd < 0) {
    return errno == EEXIST ? std::error_code{} : last_error();
  }
  return close_file(fw);
}
