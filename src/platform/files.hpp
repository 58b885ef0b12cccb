// The local service's files: written whole or not at all, private to their
// owner, never opened through a symbolic link. Plain functions with no
// system types in them, like platform.hpp; files_posix.cpp implements them.
#pragma once

#include "common/result.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::platform {

using common::Error;
using common::Result;

// Unless its comment says otherwise, a file function below never follows a
// symbolic link at the path it is given (links in the folders above it are
// followed): a link there is refused with an error that says so, and its
// target is neither created, written nor changed. They open with O_NOFOLLOW
// and close-on-exec, and set modes on the descriptor they opened, so nothing
// can swap the file between a check and the change.

// Writes the content to a temporary file beside `path` with owner-only
// permissions, flushes it to disk and renames it over `path`, so a reader
// sees the old file or the whole new one. A link at `path` is replaced, not
// written through. On failure the temporary file is removed and the error
// names the step and the file.
Result<void> write_file_atomically(const std::string& path, std::string_view content);

// Creates the file empty and 0600 if it does not exist, and makes an
// existing one 0600. Something other than a regular file there is refused.
Result<void> make_private_file(const std::string& path);

// Sets the permission bits of an existing file (0600, say) without opening
// it for reading or writing: closing such a descriptor would drop every
// POSIX lock the process holds on the file (SQLite's on its -wal and -shm,
// say). A link at the path is refused.
Result<void> set_file_mode(const std::string& path, unsigned mode);

// Makes the folder 0700 when group or others have any permission on it.
// Unlike the file functions, this one follows a link at the path: a data
// folder that is a link to another disk is a choice of its owner. True when
// it was wider and has been tightened.
Result<bool> make_private_folder(const std::string& path);

// The path with every symbolic link in it resolved, as realpath gives it.
Result<std::string> real_path(const std::string& path);

// True when the path itself is a symbolic link (lstat), dangling or not.
bool is_symbolic_link(const std::string& path);

// A configuration file that only its owner may change, as read_owned_file
// found it.
struct OwnedFile {
  std::string content;
  bool readable_by_others = false;  // group or others could read it when it was opened
  Result<void> made_private;        // with readable_by_others: whether their bits are gone now
};

// Reads a file that decides what the service does (model.json): nothing when
// it does not exist; an error, without reading it, when it is not a regular
// file, is not owned by the running user or is writable by group or others,
// since its owner alone may say what it holds. A link at the path is
// followed, and what is checked is the file it leads to, on the descriptor
// that is read. One that group or others may read loses their permissions
// first, as it may hold a secret; a failure of that is reported, not fatal.
Result<std::optional<OwnedFile>> read_owned_file(const std::string& path);

// A file kept open for appending. Opening creates it 0600, or makes an
// existing one 0600. Each append is one write call on a descriptor opened
// with O_APPEND, so lines from one writer are never interleaved and nothing
// is reread or reopened per line.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(AppendFile&& other) noexcept;
  AppendFile& operator=(AppendFile&& other) noexcept;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile();

  // Opens (or creates) the file; the error says why it could not be opened
  // or made private (a symbolic link there, say).
  static Result<AppendFile> open(const std::string& path);

  // Appends all of `bytes`; false on a write failure.
  bool append(std::string_view bytes);

  // Bytes in the file: its size when opened plus what was appended since.
  std::uint64_t size() const { return size_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// Removes the file (a link itself, not its target); succeeds when it is gone
// afterwards, one that was never there included.
Result<void> remove_file(const std::string& path);

// Renames, replacing the target (a link there is replaced, not followed).
Result<void> rename_file(const std::string& from, const std::string& to);

// Size of the file in bytes, links followed, or nothing when it does not
// exist.
std::optional<std::uint64_t> file_size(const std::string& path);

// Permission bits of the file (0600, say), links followed, or nothing.
std::optional<unsigned> file_mode(const std::string& path);

// What tells one version of a file from the next without reading it: its
// size, modification time and inode, links followed; nothing when it does
// not exist.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;
  std::uint64_t inode = 0;
};
std::optional<FileStamp> file_stamp(const std::string& path);

}  // namespace ruvo::platform
