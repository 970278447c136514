// Runs the built program as a real process: arguments, standard input answered prompt by
// prompt, and the exact bytes of standard output, standard error, exit status and note file.
//
// Which program runs is given on the command line, so the same cases can check another build:
//   --program=PATH     the executable
//   --prefix=CMD       a command to start it with, such as an emulator (optional)
//   --eol=lf|crlf      the line end it prints
//   --platform=posix|windows
//   --timeout=SECONDS  how long to wait for each prompt and for the end
//   --env=NAME=VALUE   set in the program's environment (repeatable)

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;
using clock_type = std::chrono::steady_clock;

namespace {

struct options {
  std::string program;
  std::string prefix;
  std::string eol = "\n";
  bool windows = false;
  std::chrono::seconds timeout{10};
};

options& opts() {
  static options o;
  return o;
}

// The program's texts are written here with "\n"; this gives them in the line end it prints.
std::string lines(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') {
      out += opts().eol;
    } else {
      out += c;
    }
  }
  return out;
}

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spit(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

std::vector<std::string> command(const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  if (!opts().prefix.empty()) {
    argv.push_back(opts().prefix);
  }
  argv.push_back(opts().program);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// The program's command as a line for /bin/sh, each word quoted.
std::string shell_line(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& word : command(args)) {
    line += "'" + word + "' ";
  }
  return line;
}

[[noreturn]] void exec_in(const fs::path& dir, const std::vector<std::string>& argv) {
  std::vector<char*> ptrs;
  for (const auto& a : argv) {
    ptrs.push_back(const_cast<char*>(a.c_str()));
  }
  ptrs.push_back(nullptr);
  if (::chdir(dir.c_str()) == 0) {
    ::execvp(ptrs[0], ptrs.data());
  }
  std::perror("exec");
  ::_exit(127);
}

// A running program with a pipe on each standard stream.
struct proc {
  pid_t pid = -1;
  int in = -1;
  int out = -1;
  int err = -1;
  std::string got_out;
  std::string got_err;
  std::optional<int> status;
  clock_type::time_point deadline;
};

void start(proc& p, const fs::path& dir, const std::vector<std::string>& argv) {
  int in[2];
  int out[2];
  int err[2];
  ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
  p.pid = ::fork();
  ASSERT_GE(p.pid, 0);
  if (p.pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    exec_in(dir, argv);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  p.in = in[1];
  p.out = out[0];
  p.err = err[0];
  p.deadline = clock_type::now() + opts().timeout;
}

// Takes in what the program printed, waiting at most until `until`. False once both of its
// output pipes are closed and nothing more can come.
bool pump(proc& p, clock_type::time_point until) {
  pollfd fds[2] = {{p.out, POLLIN, 0}, {p.err, POLLIN, 0}};
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(until - clock_type::now());
  if (p.out < 0 && p.err < 0) {
    return false;
  }
  const int ready = ::poll(fds, 2, static_cast<int>(std::max<long long>(left.count(), 0)));
  if (ready <= 0) {
    return true;
  }
  int* const ends[2] = {&p.out, &p.err};
  std::string* const gots[2] = {&p.got_out, &p.got_err};
  for (int i = 0; i < 2; ++i) {
    int& fd = *ends[i];
    if (fd < 0 || fds[i].revents == 0) {
      continue;
    }
    char buf[65536];
    const auto n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      gots[i]->append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      ::close(fd);
      fd = -1;
    }
  }
  return true;
}

bool reap(proc& p, int options) {
  int raw = 0;
  if (!p.status && ::waitpid(p.pid, &raw, options) == p.pid) {
    p.status = raw;
  }
  return p.status.has_value();
}

// Waits until the program's output ends with `prompt`, that is, until it waits for an answer.
::testing::AssertionResult wait_for(proc& p, const std::string& prompt) {
  while (!p.got_out.ends_with(prompt)) {
    if (clock_type::now() >= p.deadline || !pump(p, p.deadline)) {
      return ::testing::AssertionFailure() << "no prompt \"" << prompt << "\"; output so far:\n"
                                           << p.got_out << "\nerrors:\n"
                                           << p.got_err;
    }
  }
  p.deadline = clock_type::now() + opts().timeout;
  return ::testing::AssertionSuccess();
}

void send(proc& p, const std::string& text) {
  ASSERT_EQ(::write(p.in, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

void close_input(proc& p) {
  if (p.in >= 0) {
    ::close(p.in);
    p.in = -1;
  }
}

// Collects the rest of the output and the exit status; kills the program if it does not end
// by itself in time. The end is taken from the process, not from its pipes, because helpers
// that an emulator starts may keep them open.
::testing::AssertionResult finish(proc& p) {
  while (!reap(p, WNOHANG)) {
    if (clock_type::now() >= p.deadline) {
      ::kill(p.pid, SIGKILL);
      reap(p, 0);
      close_input(p);
      return ::testing::AssertionFailure() << "did not end; output:\n"
                                           << p.got_out << "\nerrors:\n"
                                           << p.got_err;
    }
    pump(p, std::min(p.deadline, clock_type::now() + std::chrono::milliseconds(20)));
  }
  const auto drain_until = clock_type::now() + std::chrono::milliseconds(200);
  while (clock_type::now() < drain_until && pump(p, clock_type::now())) {
    pollfd fds[2] = {{p.out, POLLIN, 0}, {p.err, POLLIN, 0}};
    if (::poll(fds, 2, 0) <= 0) {
      break;
    }
  }
  for (int* fd : {&p.in, &p.out, &p.err}) {
    if (*fd >= 0) {
      ::close(*fd);
      *fd = -1;
    }
  }
  return ::testing::AssertionSuccess();
}

std::string describe(int raw) {
  if (WIFEXITED(raw)) {
    return "exit " + std::to_string(WEXITSTATUS(raw));
  }
  if (WIFSIGNALED(raw)) {
    return "signal "s + strsignal(WTERMSIG(raw));
  }
  return "status " + std::to_string(raw);
}

// A folder of its own for each test; the program runs inside it.
class Dialogue : public ::testing::Test {
protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string leaf = "note_dialogue_" + std::to_string(::getpid()) + "_" + info->name();
    std::replace(leaf.begin(), leaf.end(), '/', '_');
    dir_ = fs::temp_directory_path() / leaf;
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  const fs::path& dir() const { return dir_; }

private:
  fs::path dir_;
};

struct step {
  std::string prompt; // waited for on standard output
  std::string answer; // then written to standard input
};

struct dialogue_case {
  const char* title;
  std::vector<std::string> args;
  std::optional<std::string> before; // the note file's bytes; none: missing
  std::vector<step> steps;
  bool end_input; // close standard input after the steps; else the program must end by itself
  std::string out;
  std::string err;
  int status;
  std::optional<std::string> after; // none: the note file must not exist
  bool untouched;                   // the note file keeps its modification time
};

// Names a case by its title in test output.
void PrintTo(const dialogue_case& c, std::ostream* os) {
  *os << c.title;
}

const std::string note = "note.txt";
const std::string invalid =
    "Invalid Input; For more information, contact the developer of this program; "
    "Errorcode: 0x0001\n";
const std::string closing = "The developer of this program is Tolvane.\nquit(q): ";
const std::string long_word(300000, 'w'); // longer than any read buffer

// clang-format off
const dialogue_case cases[] = {
    {"interactive run of the two-runs table", {}, "milk",
     {{"Note name: ", note + "\n"}, {"edit(e)/quit(q): ", "e\n"}, {"New note content: ", "bread\n"},
      {"quit(q): ", "q\n"}}, false,
     "Note name: Note content: milk\nedit(e)/quit(q): New note content: " + closing, "", 0, "bread",
     false},
    {"scripted run of the two-runs table reads nothing before the closing prompt",
     {note, "bread"}, "milk", {{"quit(q): ", "q\n"}}, false,
     "Note content: milk\nedit/quit: e\nNew note content: bread\n" + closing, "", 0, "bread", false},
    {"scripted run keeps blanks and takes any closing answer", {note, " two  words "}, "milk\n",
     {{"quit(q): ", "whatever\n"}}, false,
     "Note content: milk\nedit/quit: e\nNew note content:  two  words \n" + closing, "", 0,
     " two  words ", false},
    {"scripted run with an empty new note empties the file", {note, ""}, "milk", {}, true,
     "Note content: milk\nedit/quit: e\nNew note content: \n" + closing, "", 0, "", false},
    {"scripted run with an empty first argument asks for the name", {"", "bread"}, "milk",
     {{"Note name: ", note + "\n"}, {"quit(q): ", "q\n"}}, false,
     "Note name: Note content: milk\nedit/quit: e\nNew note content: bread\n" + closing, "", 0,
     "bread", false},
    {"three arguments: interactive, the rest ignored", {note, "bread", "butter"}, "milk",
     {{"edit(e)/quit(q): ", "e\n"}, {"New note content: ", "cheese\n"}, {"quit(q): ", "q\n"}},
     false, "Note content: milk\nedit(e)/quit(q): New note content: " + closing, "", 0, "cheese",
     false},
    {"edit spelled out", {note}, "milk", {{"edit(e)/quit(q): ", "edit\n"},
     {"New note content: ", "bread\n"}, {"quit(q): ", "q\n"}}, false,
     "Note content: milk\nedit(e)/quit(q): New note content: " + closing, "", 0, "bread", false},
    {"q leaves every byte and the time of a longer file", {note}, "milk\r\nsecond line\n",
     {{"edit(e)/quit(q): ", "q\n"}, {"quit(q): ", "q\n"}}, false,
     "Note content: milk\nedit(e)/quit(q): " + closing, "", 0, "milk\r\nsecond line\n", true},
    {"quit spelled out", {note}, "milk\n", {{"edit(e)/quit(q): ", "quit\n"}, {"quit(q): ", "q\n"}},
     false, "Note content: milk\nedit(e)/quit(q): " + closing, "", 0, "milk\n", true},
    {"quit creates a missing file empty", {note}, std::nullopt,
     {{"edit(e)/quit(q): ", "q\n"}, {"quit(q): ", "q\n"}}, false,
     "Note content: \nedit(e)/quit(q): " + closing, "", 0, "", false},
    {"Q is rejected", {note}, "milk", {{"edit(e)/quit(q): ", "Q\n"}}, false,
     "Note content: milk\nedit(e)/quit(q): ", invalid, 1, "milk", true},
    {"Quit is rejected", {note}, "milk", {{"edit(e)/quit(q): ", "Quit\n"}}, false,
     "Note content: milk\nedit(e)/quit(q): ", invalid, 1, "milk", true},
    {"EDIT is rejected", {note}, "milk", {{"edit(e)/quit(q): ", "EDIT\n"}}, false,
     "Note content: milk\nedit(e)/quit(q): ", invalid, 1, "milk", true},
    {"ed is rejected and a missing file is not created", {note}, std::nullopt,
     {{"edit(e)/quit(q): ", "ed\n"}}, false, "Note content: \nedit(e)/quit(q): ", invalid, 1,
     std::nullopt, false},
    {"several answers on one line", {note}, "milk", {{"edit(e)/quit(q): ", " e\tbread  q\n"}},
     false, "Note content: milk\nedit(e)/quit(q): New note content: " + closing, "", 0, "bread",
     false},
    {"all answers at once, over several lines", {}, "milk",
     {{"Note name: ", "\n\n" + note + "\r\n\v\fe\n\nbread\nq\n"}}, false,
     "Note name: Note content: milk\nedit(e)/quit(q): New note content: " + closing, "", 0,
     "bread", false},
    {"a name typed as two words: the second answers the next prompt", {}, "milk",
     {{"Note name: ", note + " q\n"}, {"quit(q): ", "q\n"}}, false,
     "Note name: Note content: milk\nedit(e)/quit(q): " + closing, "", 0, "milk", true},
    {"a name typed as two words: an unknown second word is rejected", {}, "milk",
     {{"Note name: ", note + " milk\n"}}, false, "Note name: Note content: milk\nedit(e)/quit(q): ",
     invalid, 1, "milk", true},
    {"input ends at the name prompt", {}, std::nullopt, {{"Note name: ", ""}}, true,
     "Note name: Note content: \nedit(e)/quit(q): ", invalid, 1, std::nullopt, false},
    {"input ends at the name prompt of a scripted run", {"", "bread"}, std::nullopt,
     {{"Note name: ", ""}}, true,
     "Note name: Note content: \nedit/quit: e\nNew note content: bread\n" + closing,
     "Could not save the note to \"\": No such file or directory; Errorcode: 0x0002\n", 2,
     std::nullopt, false},
    {"input ends at the edit/quit prompt", {note}, "milk", {{"edit(e)/quit(q): ", ""}}, true,
     "Note content: milk\nedit(e)/quit(q): ", invalid, 1, "milk", true},
    {"input ends right after e: the file is left as it was", {note}, "milk\nmore\n",
     {{"edit(e)/quit(q): ", "e"}}, true,
     "Note content: milk\nedit(e)/quit(q): New note content: " + closing, "", 0, "milk\nmore\n",
     true},
    {"input ends at the new note prompt: a missing file is created empty", {note}, std::nullopt,
     {{"edit(e)/quit(q): ", "e\n"}, {"New note content: ", ""}}, true,
     "Note content: \nedit(e)/quit(q): New note content: " + closing, "", 0, "", false},
    {"input ends at the closing prompt", {note}, "milk",
     {{"edit(e)/quit(q): ", "e\n"}, {"New note content: ", "bread"}}, true,
     "Note content: milk\nedit(e)/quit(q): New note content: " + closing, "", 0, "bread", false},
    {"a note that cannot be saved is reported, the dialogue goes on", {"no/" + note, "bread"},
     std::nullopt, {{"quit(q): ", "q\n"}}, false,
     "Note content: \nedit/quit: e\nNew note content: bread\n" + closing,
     "Could not save the note to \"no/" + note +
         "\": No such file or directory; Errorcode: 0x0002\n", 2, std::nullopt, false},
    {"quit on a note that cannot be created is reported", {"no/" + note}, std::nullopt,
     {{"edit(e)/quit(q): ", "q\n"}, {"quit(q): ", "q\n"}}, false,
     "Note content: \nedit(e)/quit(q): " + closing,
     "Could not save the note to \"no/" + note +
         "\": No such file or directory; Errorcode: 0x0002\n", 2, std::nullopt, false},
    {"a long typed note is taken whole, and what follows it answers the next prompt", {note},
     "milk", {{"edit(e)/quit(q): ", "e\n" + long_word + " q\n"}}, false,
     "Note content: milk\nedit(e)/quit(q): New note content: " + closing, "", 0, long_word,
     false},
    {"a long first line is shown whole", {note}, long_word + "\r\nmore", {{"edit(e)/quit(q): ",
     "q\n"}, {"quit(q): ", "q\n"}}, false, "Note content: " + long_word + "\nedit(e)/quit(q): " +
     closing, "", 0, long_word + "\r\nmore", true},
    {"8-bit bytes pass unchanged", {note}, "caf\xe9\xff\n",
     {{"edit(e)/quit(q): ", "e\n"}, {"New note content: ", "\xe8\x80\x01z\n"},
      {"quit(q): ", "q\n"}}, false,
     "Note content: caf\xe9\xff\nedit(e)/quit(q): New note content: " + closing, "", 0,
     "\xe8\x80\x01z", false},
};
// clang-format on

class Table : public Dialogue, public ::testing::WithParamInterface<dialogue_case> {};

TEST_P(Table, Run) {
  const auto& c = GetParam();
  const auto file = dir() / note;
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
  if (c.before) {
    spit(file, *c.before);
    fs::last_write_time(file, old);
  }
  proc p;
  start(p, dir(), command(c.args));
  for (const auto& s : c.steps) {
    ASSERT_TRUE(wait_for(p, lines(s.prompt)));
    send(p, s.answer);
  }
  if (c.end_input) {
    close_input(p);
  }
  ASSERT_TRUE(finish(p));
  EXPECT_EQ(p.got_out, lines(c.out));
  EXPECT_EQ(p.got_err, lines(c.err));
  EXPECT_EQ(describe(*p.status), "exit " + std::to_string(c.status));
  if (c.after) {
    EXPECT_EQ(slurp(file), *c.after);
    if (c.untouched) {
      EXPECT_EQ(fs::last_write_time(file), old);
    }
  } else {
    EXPECT_FALSE(fs::exists(file));
  }
}

std::string case_name(const ::testing::TestParamInfo<dialogue_case>& info) {
  std::string name;
  for (const char* c = info.param.title; *c != '\0'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c)) != 0) {
      name += *c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Dialogue, Table, ::testing::ValuesIn(cases), case_name);

// Runs a scripted dialogue to its end with standard input closed at once.
proc scripted(const fs::path& dir, const std::vector<std::string>& argv) {
  proc p;
  start(p, dir, argv);
  close_input(p);
  EXPECT_TRUE(finish(p));
  return p;
}

TEST_F(Dialogue, SavingRewritesInPlaceThroughLinks) {
  if (opts().windows) {
    GTEST_SKIP() << "symbolic links, hard links and POSIX permissions are a POSIX matter";
  }
  spit(dir() / "target", "milk\nmore\n");
  fs::create_symlink("target", dir() / "link");
  fs::create_hard_link(dir() / "target", dir() / "hard");
  fs::permissions(dir() / "target", fs::perms::owner_read | fs::perms::owner_write);

  auto p = scripted(dir(), command({"link", "bread"}));
  EXPECT_EQ(describe(*p.status), "exit 0");
  EXPECT_TRUE(fs::is_symlink(dir() / "link"));
  EXPECT_EQ(slurp(dir() / "target"), "bread");
  EXPECT_EQ(slurp(dir() / "hard"), "bread");
  EXPECT_EQ(fs::status(dir() / "target").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(Dialogue, NoteIsSavedWhenNobodyReadsTheOutput) {
  if (opts().windows) {
    GTEST_SKIP() << "broken pipes end programs through SIGPIPE on POSIX only";
  }
  spit(dir() / note, "milk");
  proc p;
  start(p, dir(), command({note, "bread"}));
  close_input(p);
  ::close(p.out);
  p.out = -1;
  ASSERT_TRUE(finish(p));
  EXPECT_EQ(describe(*p.status), "exit 0");
  EXPECT_EQ(slurp(dir() / note), "bread");
}

TEST_F(Dialogue, ShellWildcardMakingTwoArgumentsRunsScripted) {
  if (opts().windows) {
    GTEST_SKIP() << "a Windows console does not expand wildcards; see the runtime case";
  }
  spit(dir() / "n1", "milk");
  spit(dir() / "n2", "other");
  // The shell, not the program, turns the pattern into file names.
  auto p = scripted(dir(), {"/bin/sh", "-c", shell_line({}) + "n*"});
  EXPECT_EQ(p.got_out, lines("Note content: milk\nedit/quit: e\nNew note content: n2\n" + closing));
  EXPECT_EQ(describe(*p.status), "exit 0");
  EXPECT_EQ(slurp(dir() / "n1"), "n2");
  EXPECT_EQ(slurp(dir() / "n2"), "other");
}

TEST_F(Dialogue, AnswersFromAFileAreReadLikeTyped) {
  // Input from a regular file takes another path for long words than input from a pipe.
  spit(dir() / "answers", "e\n" + long_word + "\t" + long_word + "x\n");
  auto p = scripted(dir(), {"/bin/sh", "-c", shell_line({note}) + "< answers"});
  EXPECT_EQ(p.got_out, lines("Note content: \nedit(e)/quit(q): New note content: " + closing));
  EXPECT_EQ(describe(*p.status), "exit 0");
  EXPECT_EQ(slurp(dir() / note), long_word);
}

TEST_F(Dialogue, RuntimeWildcardMakingTwoArgumentsRunsScripted) {
  if (!opts().windows) {
    GTEST_SKIP() << "on POSIX the shell expands wildcards; see the shell case";
  }
  spit(dir() / "n1", "milk");
  spit(dir() / "n2", "milk");
  auto p = scripted(dir(), command({"n*"}));
  // The runtime lists the matches in the order the file system gives them: whichever comes
  // first takes the other's name as its note, and the other is left alone.
  const bool n1_first = slurp(dir() / "n1") != "milk";
  const std::string first = n1_first ? "n1" : "n2";
  const std::string second = n1_first ? "n2" : "n1";
  EXPECT_EQ(p.got_out, lines("Note content: milk\nedit/quit: e\nNew note content: " + second +
                             "\n" + closing));
  EXPECT_EQ(describe(*p.status), "exit 0");
  EXPECT_EQ(slurp(dir() / first), second);
  EXPECT_EQ(slurp(dir() / second), "milk");
}

TEST_F(Dialogue, LineEndInsideANoteIsWrittenInThePlatformForm) {
  auto p = scripted(dir(), command({note, "one\ntwo"}));
  EXPECT_EQ(describe(*p.status), "exit 0");
  EXPECT_EQ(slurp(dir() / note), lines("one\ntwo"));
}

// Reads from the terminal's side until `text` has appeared at the end of the screen.
::testing::AssertionResult screen_until(int master, std::string& screen, const std::string& text,
                                        clock_type::time_point deadline) {
  while (!screen.ends_with(text)) {
    pollfd pfd{master, POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
      return ::testing::AssertionFailure() << "no \"" << text << "\" on the screen:\n" << screen;
    }
    char buf[4096];
    const auto n = ::read(master, buf, sizeof buf);
    if (n <= 0) {
      return ::testing::AssertionFailure() << "terminal closed; screen:\n" << screen;
    }
    screen.append(buf, static_cast<std::size_t>(n));
  }
  return ::testing::AssertionSuccess();
}

struct terminal_run {
  const char* title;
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> typing; // prompt, then what is typed
  std::string screen;
};

TEST_F(Dialogue, TwoRunsAtATerminal) {
  if (opts().windows) {
    GTEST_SKIP() << "a Windows console is not a POSIX pseudo-terminal";
  }
  // The terminal echoes what is typed and shows every line end as CR LF.
  const terminal_run runs[] = {
      {"interactive",
       {},
       {{"Note name: ", "note.txt\n"},
        {"edit(e)/quit(q): ", "e\n"},
        {"New note content: ", "bread\n"},
        {"quit(q): ", "q\n"}},
       "Note name: note.txt\r\nNote content: milk\r\nedit(e)/quit(q): e\r\n"
       "New note content: bread\r\nThe developer of this program is Tolvane.\r\n"
       "quit(q): q\r\n"},
      {"scripted",
       {note, "bread"},
       {{"quit(q): ", "q\n"}},
       "Note content: milk\r\nedit/quit: e\r\nNew note content: bread\r\n"
       "The developer of this program is Tolvane.\r\nquit(q): q\r\n"},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.title);
    spit(dir() / note, "milk");
    const auto argv = command(run.args);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      exec_in(dir(), argv);
    }
    std::string screen;
    const auto deadline = clock_type::now() + opts().timeout;
    for (const auto& [prompt, typed] : run.typing) {
      ASSERT_TRUE(screen_until(master, screen, prompt, deadline));
      ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    }
    ASSERT_TRUE(screen_until(master, screen, "quit(q): q\r\n", deadline));
    int raw = 0;
    ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
    ::close(master);
    EXPECT_EQ(screen, run.screen);
    EXPECT_EQ(describe(raw), "exit 0");
    EXPECT_EQ(slurp(dir() / note), "bread");
  }
}

} // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::signal(SIGPIPE, SIG_IGN);
  auto& o = opts();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = arg.substr(arg.find('=') + 1);
    if (arg.starts_with("--program=")) {
      o.program = fs::absolute(value).string();
    } else if (arg.starts_with("--prefix=")) {
      o.prefix = value;
    } else if (arg.starts_with("--eol=")) {
      o.eol = value == "crlf" ? "\r\n" : "\n";
    } else if (arg.starts_with("--platform=")) {
      o.windows = value == "windows";
    } else if (arg.starts_with("--timeout=")) {
      o.timeout = std::chrono::seconds(std::stoi(value));
    } else if (arg.starts_with("--env=")) {
      ::putenv(argv[i] + std::strlen("--env="));
    } else {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  if (o.program.empty() && !GTEST_FLAG_GET(list_tests)) {
    std::fprintf(stderr,
                 "usage: %s --program=PATH [--prefix=CMD] [--eol=lf|crlf] "
                 "[--platform=posix|windows] [--timeout=SECONDS] [--env=NAME=VALUE]\n",
                 argv[0]);
    return 2;
  }
  return RUN_ALL_TESTS();
}
