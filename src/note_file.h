// Reading and writing the note file: the note is the file's first line, and a written note is
// the file's whole content, with no line end after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

// The file's first line, without its line end (an LF, or CR LF). Anything that keeps the line
// from being read, a missing file included, gives an empty note; reading never creates the file.
std::string read_note(const std::string& name);

// Replaces the file's whole content with `text`, creating the file when it is missing. The file
// is rewritten in place, so links, permissions and owner stay as they were. Returns the reason
// when the note could not be saved.
std::error_code write_note(const std::string& name, std::string_view text);

// Creates the file empty when it is missing and leaves an existing one untouched: what a run
// that brings no new note does, so that it never destroys what it could not show.
std::error_code create_note(const std::string& name);

// Reads up to `n` bytes from `fd` into `p`, retrying when a signal interrupts. Returns how many
// came: 0 at the end, -1 on an error.
std::int64_t read_some(int fd, char* p, std::size_t n);

// Reserves room in `s` for what is left to read of `fd`, when it is a regular file, so that
// reading a long text into `s` neither copies it as it grows nor holds it twice.
void reserve_rest(int fd, std::string& s);

// Reads up to `n` more bytes from `fd` straight onto the end of `s`, retrying when a signal
// interrupts. Returns how many came: 0 at the end, -1 on an error.
std::int64_t read_onto(int fd, std::string& s, std::size_t n);

// Writes all of `data` to an open descriptor, in text mode where the platform has one.
std::error_code write_all(int fd, std::string_view data);
