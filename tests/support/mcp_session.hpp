// Driving one `ruvo mcp` session line by line, for the fault tests that
// change the world between two tool calls.
#pragma once

#include "common/json.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::test {

// `ruvo mcp` as a child whose standard input the test writes one line at a
// time, reading each reply before it decides what happens next. Standard
// input is a socket, so writing to a child that has died is an error here,
// not a SIGPIPE. The child is killed (its process group) if the test ends
// early.
class McpSession {
 public:
  using Clock = std::chrono::steady_clock;
  // Only a test that has already failed waits this long.
  static constexpr auto kPatience = std::chrono::seconds(150);

  McpSession(const std::string& program, const std::map<std::string, std::string>& env) {
    int in[2];
    int out[2];
    int err[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "cannot make the session's channels";
      return;
    }
    std::string error;
    pid_ = spawn_job(command_for(program, {"mcp"}), env, {}, in[1], out[1], err[1], {}, &error);
    ::close(in[1]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[0];
    out_ = out[0];
    err_ = err[0];
    if (pid_ < 0) ADD_FAILURE() << "cannot start " << program << ": " << error;
  }

  ~McpSession() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  McpSession(const McpSession&) = delete;
  McpSession& operator=(const McpSession&) = delete;

  // Sends one request line and gives the reply line; nothing when the child
  // ended or gave no line within the (generous) patience.
  std::optional<std::string> ask(const std::string& line) {
    const std::string bytes = line + "\n";
    if (::send(in_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
      return std::nullopt;
    }
    const auto deadline = Clock::now() + kPatience;
    for (;;) {
      const std::size_t end = out_text_.find('\n');
      if (end != std::string::npos) {
        std::string reply = out_text_.substr(0, end);
        out_text_.erase(0, end + 1);
        return reply;
      }
      if (Clock::now() >= deadline || !read_some(deadline)) return std::nullopt;
    }
  }

  // Ends standard input and waits for the exit; gives the exit code (-1 for
  // a death by signal or no exit within the patience) and keeps stderr.
  int finish() {
    ::shutdown(in_, SHUT_WR);
    const auto deadline = Clock::now() + kPatience;
    while (read_some(deadline)) {
    }
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
      if (Clock::now() >= deadline) return -1;  // the destructor kills it
      ::usleep(20 * 1000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& err_text() const { return err_text_; }
  const std::string& unread_out() const { return out_text_; }

 private:
  // Waits for output; false once standard output has ended or time is up.
  bool read_some(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || out_ < 0) return false;
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, err_ >= 0 ? 2 : 1, static_cast<int>(left)) < 0) return true;
    char buffer[65536];
    if (err_ >= 0 && fds[1].revents != 0) {
      const ssize_t n = ::read(err_, buffer, sizeof buffer);
      if (n > 0) err_text_.append(buffer, static_cast<std::size_t>(n));
      if (n == 0) {
        ::close(err_);
        err_ = -1;
      }
    }
    if (fds[0].revents != 0) {
      const ssize_t n = ::read(out_, buffer, sizeof buffer);
      if (n > 0) out_text_.append(buffer, static_cast<std::size_t>(n));
      if (n == 0) {
        ::close(out_);
        out_ = -1;
        return false;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
};

inline std::string call_line(int id, std::string_view name, const common::JsonValue& arguments) {
  return common::to_compact(common::JsonValue{{"jsonrpc", "2.0"},
                                              {"id", id},
                                              {"method", "tools/call"},
                                              {"params", {{"name", std::string(name)}, {"arguments", arguments}}}});
}

// The tool result of a reply line, or null when the line is not a result.
inline common::JsonValue result_of(const std::optional<std::string>& line) {
  if (!line) return nullptr;
  auto parsed = common::parse_json(*line);
  if (!parsed || !parsed->contains("result")) return nullptr;
  return parsed->at("result");
}

inline std::string result_text(const common::JsonValue& result) {
  if (!result.is_object()) return "<not a result>";
  const auto content = result.find("content");
  if (content == result.end() || !content->is_array() || content->empty()) return "<no content>";
  const common::JsonValue& item = content->front();
  const auto text = item.is_object() ? item.find("text") : item.end();
  if (!item.is_object() || text == item.end() || !text->is_string()) return "<no text>";
  return text->get<std::string>();
}

inline bool is_error(const common::JsonValue& result) {
  if (!result.is_object()) return true;
  const auto flag = result.find("isError");
  return flag == result.end() || !flag->is_boolean() || flag->get<bool>();
}

}  // namespace ruvo::test
