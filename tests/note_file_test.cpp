#include "note_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// A fresh folder per test, removed with everything in it afterwards.
class NoteFile : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("note_file_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& leaf) const { return (dir_ / leaf).string(); }

  static void put(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
  }
  static std::string get(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

private:
  fs::path dir_;
};

struct read_case {
  const char* title;
  std::string content;
  std::string note;
};

TEST_F(NoteFile, ReadsTheFirstLineWithoutItsLineEnd) {
  const std::string long_line(200000, 'x'); // longer than one read block
  const read_case cases[] = {
      {"no line end", "abc", "abc"},
      {"LF", "abc\ndef", "abc"},
      {"CR LF", "abc\r\ndef", "abc"},
      {"CR LF at the end", "abc\r\n", "abc"},
      {"a lone CR at the end stays", "abc\r", "abc\r"},
      {"a CR not before the LF stays", "a\rb\n", "a\rb"},
      {"two CRs before the LF lose one", "abc\r\r\n", "abc\r"},
      {"empty file", "", ""},
      {"first character is an LF", "\nabc\n", ""},
      {"only CR LF", "\r\ndef", ""},
      {"blanks kept", "  two words \t\nnext", "  two words \t"},
      {"8-bit bytes and NUL", "\xff\xe9\0z\x80\n\0"s, "\xff\xe9\0z\x80"s},
      {"long line with a line end", long_line + "\r\nrest", long_line},
      {"long line without a line end", long_line, long_line},
      {"long line ending in a lone CR", long_line + "\r", long_line + "\r"},
      {"CR and LF in different reads", std::string(4095, 'y') + "\r\nrest", std::string(4095, 'y')},
      {"line end just after the first read", std::string(4096, 'z') + "\nrest",
       std::string(4096, 'z')},
  };
  for (const auto& c : cases) {
    put(path("note"), c.content);
    EXPECT_EQ(read_note(path("note")), c.note) << c.title;
  }
}

TEST_F(NoteFile, MissingOrUnreadableFileReadsAsEmptyAndIsNotCreated) {
  EXPECT_EQ(read_note(path("missing")), "");
  EXPECT_FALSE(fs::exists(path("missing")));
  EXPECT_EQ(read_note(""), "");
  fs::create_directory(path("folder"));
  EXPECT_EQ(read_note(path("folder")), "");
}

TEST_F(NoteFile, WrittenNoteReadsBackAndIsTheWholeFile) {
  const auto note = "\xe9t\xe9 \0 bytes "s;
  ASSERT_FALSE(write_note(path("note"), note));
  EXPECT_EQ(get(path("note")), note);
  EXPECT_EQ(read_note(path("note")), note);
}

TEST_F(NoteFile, ShorterWriteTruncates) {
  put(path("note"), "a much longer note\nand a second line\n");
  ASSERT_FALSE(write_note(path("note"), "xyz"));
  EXPECT_EQ(get(path("note")), "xyz");
  ASSERT_FALSE(write_note(path("note"), ""));
  EXPECT_EQ(fs::file_size(path("note")), 0U);
}

TEST_F(NoteFile, CreateMakesAMissingFileEmptyAndLeavesAnExistingOneAlone) {
  ASSERT_FALSE(create_note(path("new")));
  EXPECT_TRUE(fs::exists(path("new")));
  EXPECT_EQ(fs::file_size(path("new")), 0U);

  put(path("old"), "keep\nthis\n");
  const auto when = fs::last_write_time(path("old")) - std::chrono::hours(24);
  fs::last_write_time(path("old"), when);
  ASSERT_FALSE(create_note(path("old")));
  EXPECT_EQ(get(path("old")), "keep\nthis\n");
  EXPECT_EQ(fs::last_write_time(path("old")), when);
}

TEST_F(NoteFile, FailuresToSaveAreReported) {
  fs::create_directory(path("folder"));
  const struct {
    const char* title;
    std::string name;
    std::errc reason;
  } cases[] = {
      {"missing folder", path("no/such/note"), std::errc::no_such_file_or_directory},
      {"empty name", "", std::errc::no_such_file_or_directory},
      {"folder as the name", path("folder"), std::errc::is_a_directory},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(write_note(c.name, "x"), std::make_error_condition(c.reason)) << c.title;
  }
  for (const auto& c : {cases[0], cases[1]}) {
    EXPECT_EQ(create_note(c.name), std::make_error_condition(c.reason)) << c.title;
  }
  EXPECT_FALSE(fs::exists(path("no")));
}

TEST_F(NoteFile, FullDeviceIsReported) {
  if (!fs::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full on this system";
  }
  EXPECT_EQ(write_note("/dev/full", "lost"), std::errc::no_space_on_device);
}

} // namespace
