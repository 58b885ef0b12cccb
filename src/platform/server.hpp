// The operating-system calls only the local service (ruvo-gui.exe) makes:
// its single-instance lock, detaching, private files, sockets and stop
// signals. Plain functions with no system types in them, like platform.hpp;
// files_posix.cpp implements the file functions, server_posix.cpp the rest,
// and no file of the service includes a system header.
#pragma once

#include "common/result.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::platform {

using common::Error;
using common::Result;

// Outcome of detach_from_caller.
enum class Detach {
  kDone,          // streams on the null device, in a session of our own
  kParentExits,   // we forked to leave the session; this is the parent, exit 0
  kFailed,        // the null device could not be opened, or no session
};

// Points standard input, output and error at the null device and leaves the
// caller's session, so the caller's pipes are neither read, written nor kept
// open, and a Ctrl-C aimed at the caller's terminal does not reach us. A
// process that already leads its process group cannot start a session; it
// forks once, and the parent should exit at once with kParentExits. Also
// makes every file created later private (umask 077) and ignores SIGPIPE and
// SIGHUP.
Detach detach_from_caller();

// Holds the single-instance lock for as long as it lives.
class InstanceLock {
 public:
  InstanceLock() = default;
  explicit InstanceLock(int fd) : fd_(fd) {}  // takes ownership of the descriptor
  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

  bool held() const { return fd_ >= 0; }

  // True when `path` is still the file this lock is held on (same device and
  // file number, the path itself not followed if it is a link). A lock file
  // deleted or replaced while held protects nothing: another instance could
  // create a new one and lock that.
  bool is_at(const std::string& path) const;

 private:
  int fd_ = -1;
};

enum class LockOutcome {
  kAcquired,  // the lock is held
  kBusy,      // another process holds it
  kFailed,    // the lock file could not be opened or locked
};

struct LockResult {
  LockOutcome outcome = LockOutcome::kFailed;
  InstanceLock lock;  // held only with kAcquired
  Error error;        // why, with kFailed
};

// Takes an exclusive, non-blocking lock (flock) on the file, creating it
// owner-only if needed and making an existing one 0600. A symbolic link at
// the path is refused, never followed. The lock is released when the
// InstanceLock is destroyed or the process ends, however it ends.
LockResult try_lock_instance(const std::string& path);

// `count` bytes from the operating system's random generator (getrandom,
// else /dev/urandom); nothing when neither gives them.
std::optional<std::string> random_bytes(std::size_t count);

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

// Removes the file (a link itself, not its target); true when it is gone
// afterwards.
bool remove_file(const std::string& path);

// Renames, replacing the target (a link there is replaced, not followed);
// true on success.
bool rename_file(const std::string& from, const std::string& to);

// Size of the file in bytes, links followed, or nothing when it does not
// exist.
std::optional<std::uint64_t> file_size(const std::string& path);

// Permission bits of the file (0600, say), links followed, or nothing.
std::optional<unsigned> file_mode(const std::string& path);

// A TCP socket listening on 127.0.0.1 at a port the system chose.
struct Listener {
  int fd = -1;
  int port = 0;
};

// Opens a listening socket on 127.0.0.1 with a free port, the longest
// backlog the system allows and close-on-exec.
Result<Listener> listen_on_loopback();

// Raises the soft limit of open files towards `wanted` (never past the hard
// limit, never lowering it) and returns the limit in effect afterwards.
std::uint64_t raise_open_file_limit(std::uint64_t wanted);

// Shuts the socket down for both directions. For a listening socket, every
// accept on it fails from then on, through any of its descriptors.
void shut_down_socket(int fd);

void close_descriptor(int fd);

// Blocks SIGTERM and SIGINT in the calling thread and every thread it starts
// afterwards, so that only wait_for_stop_signal(_for) receives them. Call before
// any thread is started.
void block_stop_signals();

// Waits for SIGTERM or SIGINT and returns its number.
int wait_for_stop_signal();

// Waits at most `timeout` for SIGTERM or SIGINT: its number, or 0 when the
// time passed without one. Lets the waiting thread do a little work at
// intervals while a stop signal still ends the wait at once.
int wait_for_stop_signal_for(std::chrono::milliseconds timeout);

// Sends ourselves SIGTERM, waking wait_for_stop_signal(_for) (used when the server
// thread ends on its own).
void request_stop();

int current_pid();

// Starts words[0] (looked up in PATH when it names no folder) with the
// argument vector `words`, standard input, output and error on the null
// device, in a session of its own, not waited for: how the service opens a
// browser, whose chatter must not reach a terminal or pipe of ours. The
// error when it could not be started (not found, not executable).
Result<void> start_detached_program(const std::vector<std::string>& words);

// Seconds since 1970, and the local time as "YYYY-MM-DD HH:MM:SS".
std::int64_t unix_seconds();
std::string local_timestamp();

}  // namespace ruvo::platform
