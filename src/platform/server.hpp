// The operating-system calls only the local service (ruvo-gui.exe) makes:
// its single-instance lock, detaching, private files, sockets and stop
// signals. Plain functions with no system types in them, like platform.hpp;
// files_posix.cpp implements the file functions, server_posix.cpp the rest,
// and no file of the service includes a system header.
#pragma once

#include "common/result.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
};

// Takes an exclusive, non-blocking lock (flock) on the file, creating it if
// needed. The lock is released when the InstanceLock is destroyed or the
// process ends, however it ends.
LockResult try_lock_instance(const std::string& path);

// `count` bytes from the operating system's random generator (getrandom,
// else /dev/urandom); nothing when neither gives them.
std::optional<std::string> random_bytes(std::size_t count);

// Writes the content to a temporary file beside `path` with owner-only
// permissions, flushes it to disk and renames it over `path`, so a reader
// sees the old file or the whole new one. On failure the temporary file is
// removed and the error names the step and the file.
Result<void> write_file_atomically(const std::string& path, std::string_view content);

// Creates the file empty with owner-only permissions if it does not exist,
// and takes group and other permissions away if it does.
Result<void> make_private_file(const std::string& path);

// Sets the permission bits of an existing file (0600, say).
Result<void> set_file_mode(const std::string& path, unsigned mode);

// A file kept open for appending. Opening creates it owner-only, or takes
// group and other permissions away from an existing one. Each append is one
// write call on a descriptor opened with O_APPEND, so lines from one writer
// are never interleaved and nothing is reread or reopened per line.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(AppendFile&& other) noexcept;
  AppendFile& operator=(AppendFile&& other) noexcept;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile();

  // Opens (or creates) the file; nothing when it cannot be opened or made
  // private.
  static std::optional<AppendFile> open(const std::string& path);

  // Appends all of `bytes`; false on a write failure.
  bool append(std::string_view bytes);

  // Bytes in the file: its size when opened plus what was appended since.
  std::uint64_t size() const { return size_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// Removes the file; true when it is gone afterwards.
bool remove_file(const std::string& path);

// Renames, replacing the target; true on success.
bool rename_file(const std::string& from, const std::string& to);

// Size of the file in bytes, or nothing when it does not exist.
std::optional<std::uint64_t> file_size(const std::string& path);

// Permission bits of the file (0600, say), or nothing.
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
// afterwards, so that only wait_for_stop_signal receives them. Call before
// any thread is started.
void block_stop_signals();

// Waits for SIGTERM or SIGINT and returns its number.
int wait_for_stop_signal();

// Sends ourselves SIGTERM, waking wait_for_stop_signal (used when the server
// thread ends on its own).
void request_stop();

int current_pid();

// Seconds since 1970, and the local time as "YYYY-MM-DD HH:MM:SS".
std::int64_t unix_seconds();
std::string local_timestamp();

}  // namespace ruvo::platform
