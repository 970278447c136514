// note: shows the one-line note kept in a file and replaces it, from the command line
// (`note FILE TEXT`) or through a short dialogue.

#include "note_file.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#ifdef _WIN32
// Asks the C runtime to expand wildcards in the command line, as a POSIX shell would.
extern "C" {
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables,readability-identifier-naming)
int _dowildcard = -1;
}
#else
#include <csignal>
#endif

namespace {

constexpr int in_fd = 0;
constexpr int out_fd = 1;
constexpr int err_fd = 2;

// Standard input, read a block at a time; tokens are cut out of the block by hand, so a long
// typed note costs time in proportion to its length.
// NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init): only what read() filled is used
struct input {
  std::array<char, std::size_t{1} << 16> buf;
  std::size_t pos = 0;
  std::size_t len = 0;
  bool ended = false;
};

// Blank, tab, LF, vertical tab, form feed and CR separate answers.
bool is_space(char c) {
  constexpr unsigned long long spaces = (1ULL << ' ') | (1ULL << '\t') | (1ULL << '\n') |
                                        (1ULL << '\v') | (1ULL << '\f') | (1ULL << '\r');
  const auto u = static_cast<unsigned char>(c);
  return u <= ' ' && ((spaces >> u) & 1U) != 0;
}

// Once input has ended it stays ended, even on a terminal where a later read would wait again.
bool refill(input& in) {
  if (in.ended) {
    return false;
  }
  const auto got = read_some(in_fd, in.buf.data(), in.buf.size());
  in.ended = got <= 0;
  in.pos = 0;
  in.len = in.ended ? 0 : static_cast<std::size_t>(got);
  return !in.ended;
}

// The first separator in [p, end), or end. Eight bytes at a time where there is none: every
// separator is below '!', and most words have no byte that low.
const char* find_space(const char* p, const char* end) {
  constexpr std::uint64_t ones = 0x0101010101010101U;
  constexpr std::uint64_t highs = 0x8080808080808080U;
  while (end - p >= 8) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, sizeof w);
    if (((w - ones * '!') & ~w & highs) != 0) {
      const char* hit = std::find_if(p, p + 8, is_space);
      if (hit != p + 8) {
        return hit;
      }
    }
    p += 8;
  }
  return std::find_if(p, end, is_space);
}

// Reads the next whitespace-separated word into `value`. Returns false, leaving `value` as it
// was, when input ends before a word starts; the whitespace after the word stays unread.
bool read_token(input& in, std::string& value) {
  for (;;) {
    const char* first = std::find_if_not(in.buf.data() + in.pos, in.buf.data() + in.len, is_space);
    in.pos = static_cast<std::size_t>(first - in.buf.data());
    if (in.pos < in.len) {
      break;
    }
    if (!refill(in)) {
      return false;
    }
  }
  const char* word = in.buf.data() + in.pos;
  const char* stop = find_space(word, in.buf.data() + in.len);
  value.assign(word, stop);
  in.pos = static_cast<std::size_t>(stop - in.buf.data());
  if (in.pos < in.len || in.ended) {
    return true;
  }
  // A word longer than what is buffered is read straight onto its end, and what follows it
  // goes back to the buffer.
  reserve_rest(in_fd, value);
  for (;;) {
    const auto got = read_onto(in_fd, value, in.buf.size());
    if (got <= 0) {
      in.ended = true;
      in.pos = in.len = 0;
      return true;
    }
    const char* fresh = value.data() + value.size() - got;
    const char* end = value.data() + value.size();
    stop = find_space(fresh, end);
    if (stop != end) {
      in.len = static_cast<std::size_t>(end - stop);
      in.pos = 0;
      std::memcpy(in.buf.data(), stop, in.len);
      value.resize(static_cast<std::size_t>(stop - value.data()));
      return true;
    }
  }
}

// Prints one prompt or one line at once, so it is on the console before the next read. Output
// that cannot be printed is dropped: saving the note matters more than showing it.
void show(std::initializer_list<std::string_view> parts) {
  constexpr std::size_t joined_max = 4096;
  std::size_t total = 0;
  for (const auto part : parts) {
    total += part.size();
  }
  if (total > joined_max) {
    for (const auto part : parts) {
      write_all(out_fd, part);
    }
    return;
  }
  std::string line;
  line.reserve(total);
  for (const auto part : parts) {
    line += part;
  }
  write_all(out_fd, line);
}

void ask(std::string_view prompt, input& in, std::string& value) {
  show({prompt});
  read_token(in, value);
}

} // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
  // A reader of our output that goes away must not stop the note from being saved.
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
#endif
  const std::span args(argv, static_cast<std::size_t>(argc));
  std::string name;
  std::string fc;
  std::string ans;
  input in;

  if (args.size() > 1) {
    name = args[1];
  }
  if (name.empty()) {
    ask("Note name: ", in, name);
  }

  fc = read_note(name);
  show({"Note content: ", fc, "\n"});

  // Only a new note replaces the file; without one, an existing file keeps every byte it has,
  // including lines that were not shown.
  bool replace = true;
  if (args.size() == 3) {
    fc = args[2];
    show({"edit/quit: e\n"});
    show({"New note content: ", fc, "\n"});
  } else {
    ask("edit(e)/quit(q): ", in, ans);
    if (ans == "quit" || ans == "q") {
      replace = false;
    } else if (ans == "edit" || ans == "e") {
      show({"New note content: "});
      replace = read_token(in, fc);
    } else {
      write_all(err_fd, "Invalid Input; For more information, contact the developer of this "
                        "program; Errorcode: 0x0001\n");
      return 1;
    }
  }

  int status = 0;
  if (const auto err = replace ? write_note(name, fc) : create_note(name)) {
    write_all(err_fd, "Could not save the note to \"" + name + "\": " + err.message() +
                          "; Errorcode: 0x0002\n");
    status = 2;
  }

  show({"The developer of this program is Tolvane.\n"});
  ask("quit(q): ", in, ans);
  return status;
}
