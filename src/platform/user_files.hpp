// Files a person names on the command line (ruvo-gui.exe --export and
// --import): what is at a path, and reading a regular file within a bound
// without ever waiting on a pipe or a device that nobody writes to. Plain
// functions with no system types in them; user_files_posix.cpp implements
// them.
#pragma once

#include "common/result.hpp"

#include <cstddef>
#include <string>

namespace ruvo::platform {

using common::Result;

// What a path names, the path itself not followed when it is a link.
enum class PathKind {
  kMissing,  // nothing there
  kRegular,  // a regular file
  kLink,     // a symbolic link, wherever it leads
  kFolder,   // a folder
  kOther,    // a pipe, a device, a socket
};

// What is at the path (lstat); the error when the system cannot say
// (a folder above it not readable, say).
Result<PathKind> path_kind(const std::string& path);

// What read_regular_file found.
struct LimitedRead {
  std::string content;       // the file's bytes, at most `limit` of them
  bool not_regular = false;  // the path names no regular file: nothing was read
  bool too_large = false;    // it holds more than `limit` bytes: content is empty
};

// Reads the whole of the regular file at `path` (a link there is followed),
// as long as it holds at most `limit` bytes. The file is opened without
// waiting (O_NONBLOCK) and checked on that descriptor, so a pipe nobody
// writes to or a device is refused at once and never read. The error when it
// cannot be opened or read.
Result<LimitedRead> read_regular_file(const std::string& path, std::size_t limit);

}  // namespace ruvo::platform
