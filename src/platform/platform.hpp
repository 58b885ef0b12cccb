// The operating-system layer of both programs: plain functions and value
// types, with no system types in them. platform_posix.cpp and
// platform_win32.cpp implement it; the calls only the local service makes
// have headers of their own (files, instance_lock, daemon, listener, random,
// clock), each implemented by a *_posix.cpp file. Nothing else includes a
// system header.
#pragma once

#include "common/result.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvo::platform {

// A failed system call carries the system's own message and code.
using common::Error;
using common::Result;

// Makes the process robust before anything else runs: a closed pipe on
// standard output or error must not kill it (POSIX ignores SIGPIPE), and the
// Windows side sets up Winsock. Call once from main.
void init_process();

// The command-line words after the program's own name, as UTF-8. Words that
// are not valid Unicode have each ill-formed part replaced by U+FFFD, so
// nothing invalid ever reaches the JSON writer. Windows ignores argc/argv and
// reads GetCommandLineW.
std::vector<std::string> command_line_words(int argc, char** argv);

// Writes all bytes to standard output / error. On a Windows console the UTF-8
// bytes are shown through WriteConsoleW (a sequence split across calls is
// kept until complete); elsewhere they pass unchanged. Returns false on a
// failed write (a closed pipe, say); callers are free to ignore it.
bool write_stdout(std::string_view bytes);
bool write_stderr(std::string_view bytes);

// True when standard output / error is a terminal (a Windows console), where
// control characters act instead of being shown.
bool stdout_is_terminal();
bool stderr_is_terminal();

// Reads up to `capacity` bytes of standard input: the count read, 0 at the
// end of input, or the error.
Result<std::size_t> read_stdin(char* buffer, std::size_t capacity);

// Something to read bytes from in pieces, with read_stdin's contract; the
// commands and the MCP loop take one so that tests can feed them.
using ReadFunction = std::function<Result<std::size_t>(char* buffer, std::size_t capacity)>;

// The value of an environment variable, or nothing when it is not set.
std::optional<std::string> get_env(const std::string& name);

// The full path of the running program's file, or the system's error.
Result<std::string> own_executable_path();

// The parent folder of a path, or nothing when it has none.
std::optional<std::string> parent_folder(const std::string& path);

// The platform's path separator.
char path_separator();

// Joins two path components with the platform separator, without doubling a
// separator that `base` already ends in.
std::string join_path(std::string_view base, std::string_view name);

// True only when the path, links followed, names an existing entry that is not
// a folder. Any error counts as false.
bool is_regular_file(const std::string& path);

// True when both paths, links followed, name the same existing file (same
// device and file number). Any error counts as false.
bool same_file(const std::string& a, const std::string& b);

// Creates the folder and its missing parents; succeeds when it exists
// afterwards, else the error names the folder and the system's reason.
Result<void> create_folders(const std::string& path);

// The whole content of a file, or the error that kept it from being opened
// or read ("open <path>: …", "read <path>: …").
Result<std::string> read_file(const std::string& path);

// The folder in which applications keep their data: APPDATA where it is set;
// on other systems $XDG_CONFIG_HOME, then $HOME/.config. The error "no
// application-data folder" when none of these is set.
Result<std::string> app_data_folder();

// Starts `program` with the argument vector {program, args...}, the current
// environment plus `extra_env` (overriding variables of the same name), the
// current folder and the inherited standard streams. The child is not waited
// for and outlives us; no handle of it is kept and it never becomes a zombie
// of ours. Returns the error when the program could not be started (a failed
// exec included).
Result<void> start_process(const std::string& program,
                                   const std::vector<std::string>& args,
                                   const std::vector<std::pair<std::string, std::string>>& extra_env);

void sleep_ms(int milliseconds);

// Ends the process with the exit code. Everything ruvo writes is written
// unbuffered, so nothing is pending.
[[noreturn]] void exit_process(int code);

// A connected TCP stream to 127.0.0.1, closed when destroyed.
class TcpStream {
 public:
  TcpStream() = default;
  TcpStream(TcpStream&& other) noexcept;
  TcpStream& operator=(TcpStream&& other) noexcept;
  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;
  ~TcpStream();

  // Connects to 127.0.0.1:port, waiting at most timeout_ms. An expired wait
  // is the error "connection timed out" with code 0.
  static Result<TcpStream> connect_loopback(std::uint16_t port, int timeout_ms);

  // Per-call time-outs of every later read and write; failures are ignored.
  void set_timeouts(int read_ms, int write_ms);

  // The per-call time-out of every later read (at least 1 ms, since 0 would
  // mean none); failures are ignored.
  void set_read_timeout(int read_ms);

  // The error an expired read time-out gives, for a caller whose own
  // deadline runs out between reads.
  static Error read_timed_out();

  // Writes every byte, or returns the error.
  Result<void> write_all(std::string_view bytes);

  // Reads up to `capacity` bytes: the count read, 0 when the peer has closed
  // the stream, or the error (an expired read time-out included).
  Result<std::size_t> read_some(char* buffer, std::size_t capacity);

  // Waits at most timeout_ms for something to read (bytes, the end of the
  // stream or an error, which the next read_some then gives): true when
  // there is, false when the time ran out or a signal cut the wait short.
  // Nothing is read.
  Result<bool> wait_readable(int timeout_ms);

  void close();

 private:
  explicit TcpStream(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = -1;
};

}  // namespace ruvo::platform
