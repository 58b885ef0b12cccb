#include "support/fake_service.hpp"
#include "support/temp_dir.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace ruvo::test {
namespace {

// How long a connection may stay silent while the service waits for request
// bytes, for room to send, or for the client to close after the reply. Long
// enough for a loaded machine, short enough that a client that never sends
// cannot hold a thread for the rest of the run.
constexpr int kIdleTimeoutMs = 10000;
constexpr std::size_t kMaxHead = 1 << 20;
constexpr std::size_t kMaxBody = std::size_t{256} << 20;

enum class Wait { ready, stopped, timed_out };

// Waits until `fd` has `events`, the service is stopping (wake_fd readable)
// or timeout_ms pass (-1: no limit). A negative fd just waits.
Wait wait_for(int fd, short events, int wake_fd, int timeout_ms) {
  pollfd fds[2] = {{fd, events, 0}, {wake_fd, POLLIN, 0}};
  for (;;) {
    const int n = ::poll(fds, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[1].revents != 0) return Wait::stopped;
    if (n == 0) return Wait::timed_out;
    return Wait::ready;
  }
}

std::string lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return result;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The value of header `name` in a request head, searching the lines after the
// request line.
std::optional<std::string> find_header(std::string_view head, std::string_view name) {
  const std::string wanted = lower(name);
  std::size_t start = head.find("\r\n");
  while (start != std::string_view::npos) {
    start += 2;
    const std::size_t end = std::min(head.find("\r\n", start), head.size());
    const std::string_view line = head.substr(start, end - start);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && lower(trim(line.substr(0, colon))) == wanted) {
      return std::string(trim(line.substr(colon + 1)));
    }
    if (end >= head.size()) break;
    start = end;
  }
  return std::nullopt;
}

// Content-Length of a request head; 0 when absent or not a number.
std::size_t content_length(std::string_view head) {
  const auto value = find_header(head, "Content-Length");
  if (!value || value->empty() || value->size() > 12) return 0;
  std::size_t length = 0;
  for (char c : *value) {
    if (c < '0' || c > '9') return 0;
    length = length * 10 + static_cast<std::size_t>(c - '0');
  }
  return std::min(length, kMaxBody);
}

// Reads one request: the head up to CR LF CR LF, then Content-Length body
// bytes. False when it did not arrive whole (the client stopped or went
// silent, or the service is stopping); `raw` holds what did arrive.
bool read_request(int fd, int wake_fd, std::string& raw) {
  std::size_t wanted = std::string::npos;
  char buffer[65536];
  for (;;) {
    if (wanted == std::string::npos) {
      const std::size_t separator = raw.find("\r\n\r\n");
      if (separator != std::string::npos) {
        wanted = separator + 4 + content_length(std::string_view(raw).substr(0, separator));
      } else if (raw.size() > kMaxHead) {
        return false;
      }
    }
    if (raw.size() >= wanted) return true;
    if (wait_for(fd, POLLIN, wake_fd, kIdleTimeoutMs) != Wait::ready) return false;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      raw.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
      return false;
    }
  }
}

Request parse_request(std::string raw) {
  Request request;
  const std::size_t separator = raw.find("\r\n\r\n");
  const std::string_view head = std::string_view(raw).substr(0, separator);
  const std::string_view line = head.substr(0, head.find("\r\n"));
  const std::size_t first_end = line.find(' ');
  request.method = std::string(line.substr(0, first_end));
  if (first_end != std::string_view::npos) {
    const std::string_view rest = line.substr(first_end + 1);
    request.path = std::string(rest.substr(0, rest.find(' ')));
  }
  if (separator != std::string::npos) request.body = raw.substr(separator + 4);
  request.raw = std::move(raw);
  return request;
}

// Sends every byte unless the client goes away, stays full for the idle
// time-out, or the service stops.
void send_all(int fd, int wake_fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (wait_for(fd, POLLOUT, wake_fd, kIdleTimeoutMs) != Wait::ready) return;
    } else {
      return;
    }
  }
}

// Reads and drops bytes until the client closes (or an error, the service
// stopping, or timeout_ms of silence).
void wait_for_client_close(int fd, int wake_fd, int timeout_ms) {
  char buffer[4096];
  while (wait_for(fd, POLLIN, wake_fd, timeout_ms) == Wait::ready) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return;
  }
}

std::string reason_phrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

}  // namespace

Reply Reply::json(int status, std::string_view body) {
  Reply reply;
  reply.bytes = "HTTP/1.1 " + std::to_string(status) + " " + reason_phrase(status) +
                "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + std::string(body);
  return reply;
}

Reply Reply::raw(std::string bytes) {
  Reply reply;
  reply.bytes = std::move(bytes);
  return reply;
}

std::optional<std::string> Request::header(std::string_view name) const {
  return find_header(std::string_view(raw).substr(0, raw.find("\r\n\r\n")), name);
}

FakeService::FakeService() {
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "FakeService: pipe: " << std::strerror(errno);
    return;
  }
  wake_read_ = wake[0];
  wake_write_ = wake[1];
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listen_fd_, 64) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "FakeService: cannot listen on 127.0.0.1: " << std::strerror(errno);
    return;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread(&FakeService::accept_loop, this);
}

FakeService::~FakeService() {
  // Nobody ever reads the wake byte, so every poll sees it from now on.
  if (wake_write_ >= 0) {
    const char byte = 1;
    while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {
    }
  }
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& worker : workers_) worker.join();  // the acceptor, the only one to add, has ended
  for (int fd : {listen_fd_, wake_read_, wake_write_}) {
    if (fd >= 0) ::close(fd);
  }
}

uint16_t FakeService::port() const { return port_; }

void FakeService::on(std::string method_and_path, std::vector<Reply> replies) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (replies.empty()) {
    routes_.erase(method_and_path);
  } else {
    routes_[std::move(method_and_path)] = Route{std::move(replies), 0};
  }
}

std::vector<Request> FakeService::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::size_t FakeService::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

void FakeService::accept_loop() {
  while (wait_for(listen_fd_, POLLIN, wake_read_, -1) == Wait::ready) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
    // One thread per connection: a reply held open must not stall the next.
    workers_.emplace_back(&FakeService::serve, this, fd);
  }
}

Reply FakeService::reply_for(const Request& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(request);
  const std::string key = request.method + " " + request.path;
  const auto found = routes_.find(key);
  if (found != routes_.end()) {
    Route& route = found->second;
    const Reply& reply = route.replies[std::min(route.next, route.replies.size() - 1)];
    ++route.next;
    return reply;
  }
  if (key == "GET /v1/health") return Reply::json(200, R"({"ok":true,"version":"test"})");
  return Reply::json(404, R"({"ok":false,"message":"not found"})");
}

void FakeService::serve(int fd) {
  std::string raw;
  const bool whole = read_request(fd, wake_read_, raw);
  if (!whole) {
    if (!raw.empty()) {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(parse_request(std::move(raw)));
    }
    ::close(fd);
    return;
  }
  const Reply reply = reply_for(parse_request(std::move(raw)));
  if (reply.delay_ms > 0 && wait_for(-1, 0, wake_read_, reply.delay_ms) == Wait::stopped) {
    ::close(fd);
    return;
  }
  if (reply.drip_ms > 0) {
    for (std::size_t i = 0; i < reply.bytes.size(); ++i) {
      if (::send(fd, reply.bytes.data() + i, 1, MSG_NOSIGNAL) != 1 ||
          wait_for(-1, 0, wake_read_, reply.drip_ms) == Wait::stopped) {
        ::close(fd);
        return;
      }
    }
  } else {
    send_all(fd, wake_read_, reply.bytes);
  }
  if (reply.reset) {
    const linger abort_on_close{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  } else if (reply.keep_open) {
    wait_for_client_close(fd, wake_read_, -1);
  } else {
    // Half-close, then let the client close first: closing a socket that
    // still holds unread client bytes would reset the connection and could
    // take the reply with it.
    ::shutdown(fd, SHUT_WR);
    wait_for_client_close(fd, wake_read_, kIdleTimeoutMs);
  }
  ::close(fd);
}

}  // namespace ruvo::test
