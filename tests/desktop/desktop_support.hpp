// Fixtures for the service's tests: temporary folders kept when a test
// fails, raw HTTP exchanges, and processes started and stopped by pid.
#pragma once

#include "common/json.hpp"
#include "protocol/discovery.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvo::desktop::testing {

// A fresh folder under $TMPDIR (or /tmp), removed when the test passed and
// kept, with its path printed, when it failed.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Sends the bytes to 127.0.0.1:port and reads until the peer closes the
// connection; the received bytes, or nothing when the exchange failed.
std::optional<std::string> raw_exchange(int port, std::string_view request);

// The status code of a raw reply ("HTTP/1.1 200 OK..." gives 200), or -1.
int status_of(std::string_view reply);
// The head of a raw reply (before the empty line), and the body after it.
std::string head_of(std::string_view reply);
std::string body_of(std::string_view reply);

// A request as ruvo writes it: method, path, the token header, a JSON content
// type, Content-Length and "Connection: close".
std::string ruvo_request(std::string_view method, std::string_view path, std::string_view token,
                         std::string_view body);

// The path of the built ruvo-gui.exe, and of ruvo beside it.
std::string gui_program();
std::string ruvo_program();

// A started program. The destructor kills it (SIGKILL) and reaps it if the
// test has not stopped it, so no process outlives a test.
class Process {
 public:
  // Starts `program` with `args` and the current environment plus `env`
  // (overriding variables of the same name); standard input, output and
  // error are the files given (the null device when empty; output files are
  // created or emptied).
  Process(const std::string& program, const std::vector<std::string>& args,
          const std::vector<std::pair<std::string, std::string>>& env, const std::string& stdout_path = {},
          const std::string& stderr_path = {}, const std::string& stdin_path = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  int pid() const { return pid_; }
  bool started() const { return pid_ > 0; }
  // Sends the signal to this process only.
  void signal(int number) const;
  // Waits up to `limit_ms` for the process to end; its exit code, 128 +
  // signal number when a signal ended it, or nothing when it still runs.
  std::optional<int> wait_exit(int limit_ms);
  // Whether the process still runs (not yet reaped).
  bool running();

 private:
  int pid_ = -1;
  bool reaped_ = false;
};

// Runs the program to its end (at most `limit_ms`) with no extra
// environment; exit code with the text of its standard output and error.
struct RunResult {
  std::optional<int> exit_code;
  std::string out;
  std::string err;
};
RunResult run_program(const TempFolder& folder, const std::string& program, const std::vector<std::string>& args,
                      int limit_ms);
// The same with variables added to the environment and `input` on standard
// input.
RunResult run_program(const TempFolder& folder, const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::pair<std::string, std::string>>& env, std::string_view input,
                      int limit_ms);

// Stops the ruvo-gui.exe that ruvo started with the application-data folder
// `data_folder` (…/com.corvanta.desktop) when it is destroyed: its pid is
// the one its log gives at start, checked to be that program, sent SIGTERM
// and waited for (at most kExitLimitMs).
class LoggedServiceStopper {
 public:
  explicit LoggedServiceStopper(std::string data_folder) : data_folder_(std::move(data_folder)) {}
  ~LoggedServiceStopper() { stop(); }
  LoggedServiceStopper(const LoggedServiceStopper&) = delete;
  LoggedServiceStopper& operator=(const LoggedServiceStopper&) = delete;

  // The pid the log names, or nothing.
  std::optional<int> pid() const;
  // Stops it now; true when it is gone (or was never started).
  bool stop();

 private:
  std::string data_folder_;
};

// Polls (every 20 ms, at most `limit_ms`) until the discovery file in the
// folder parses and, when `not_token` is given, carries another token.
std::optional<protocol::ServiceInfo> wait_for_discovery(const std::string& path, int limit_ms,
                                                       const std::string& not_token = {});

// Generous upper bounds for things that normally take milliseconds; they only
// keep a broken build from hanging the suite.
inline constexpr int kStartLimitMs = 30000;
inline constexpr int kExitLimitMs = 30000;

}  // namespace ruvo::desktop::testing
