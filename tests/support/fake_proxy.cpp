#include "support/fake_proxy.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

namespace ruvo::test {

namespace {

// A request head larger than this is refused; the client's are small.
constexpr std::size_t kMaxHead = 64 * 1024;
// How long a connection may stay silent in either direction before the
// proxy gives it up: past every bound the model client uses, so it never
// decides a test, short enough that nothing outlives the suite.
constexpr int kIdleTimeoutMs = 120'000;

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return out;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && lower(text.substr(0, prefix.size())) == lower(prefix);
}

// "host[:port]" with `fallback` when no port is written; nothing when the
// port is not a number from 1 to 65535.
std::optional<std::pair<std::string, int>> split_authority(std::string_view authority, int fallback) {
  const std::size_t colon = authority.rfind(':');
  if (colon == std::string_view::npos) return std::make_pair(std::string(authority), fallback);
  std::string_view digits = authority.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  int port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return std::make_pair(std::string(authority.substr(0, colon)), port);
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

struct FakeProxy::State {
  std::vector<std::string> known;  // lower case
  int listen_fd = -1;
  int wake_read = -1;  // readable once the proxy is stopping
  int wake_write = -1;
  int port = 0;
  mutable std::mutex mutex;
  std::vector<ProxiedRequest> requests;
  std::vector<std::thread> workers;
  std::thread acceptor;

  enum class Wait { kReady, kStopped, kTimedOut };

  // Waits until one of the descriptors has its events, the proxy stops, or
  // the idle time passes; `fds` gets the wake pipe appended.
  Wait wait(std::vector<pollfd> fds) const {
    fds.push_back({wake_read, POLLIN, 0});
    for (;;) {
      const int n = ::poll(fds.data(), fds.size(), kIdleTimeoutMs);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || fds.back().revents != 0) return Wait::kStopped;
      return n == 0 ? Wait::kTimedOut : Wait::kReady;
    }
  }

  bool send_all(int fd, std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        return false;
      }
    }
    return true;
  }

  // Reads up to the end of the request head; `bytes` keeps what came after
  // it too (the start of a body). False when no whole head arrived.
  bool read_head(int fd, std::string& bytes, std::size_t& head_end) const {
    char buffer[16384];
    for (;;) {
      head_end = bytes.find("\r\n\r\n");
      if (head_end != std::string::npos) return true;
      if (bytes.size() > kMaxHead) return false;
      if (wait({{fd, POLLIN, 0}}) != Wait::kReady) return false;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // Copies bytes both ways until either side closes or fails.
  void relay(int a, int b) const {
    char buffer[16384];
    for (;;) {
      std::vector<pollfd> fds = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      fds.push_back({wake_read, POLLIN, 0});
      const int n = ::poll(fds.data(), fds.size(), kIdleTimeoutMs);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || fds[2].revents != 0) return;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) continue;
        const ssize_t got = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        if (!send_all(fds[1 - i].fd, std::string_view(buffer, static_cast<std::size_t>(got)))) return;
      }
    }
  }

  int connect_loopback(int to_port) const {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(to_port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) close_fd(fd);
    return fd;
  }

  void serve(int client) {
    std::string bytes;
    std::size_t head_end = 0;
    if (!read_head(client, bytes, head_end)) {
      close_fd(client);
      return;
    }
    const std::string_view head = std::string_view(bytes).substr(0, head_end);
    const std::string_view line = head.substr(0, head.find("\r\n"));
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    ProxiedRequest request;
    request.method = std::string(line.substr(0, first));
    std::string version = "HTTP/1.1";
    std::string origin_path;  // the request target for the endpoint
    std::optional<std::pair<std::string, int>> where;
    if (second != std::string_view::npos) {
      request.target = std::string(line.substr(first + 1, second - first - 1));
      version = std::string(line.substr(second + 1));
      std::string_view target = request.target;
      if (request.method == "CONNECT") {
        where = split_authority(target, 0);
      } else if (starts_with_ignoring_case(target, "http://")) {
        target.remove_prefix(7);
        const std::size_t slash = target.find('/');
        where = split_authority(target.substr(0, slash), 80);
        origin_path = slash == std::string_view::npos ? "/" : std::string(target.substr(slash));
      }
    }
    if (where) {
      request.host = where->first;
      request.port = where->second;
    }
    const bool allowed = where && where->second > 0 &&
                         std::find(this->known.begin(), this->known.end(), lower(where->first)) != this->known.end();
    int upstream = allowed ? connect_loopback(where->second) : -1;
    request.forwarded = upstream >= 0;
    {
      std::lock_guard<std::mutex> guard(mutex);
      requests.push_back(request);
    }
    if (upstream < 0) {
      send_all(client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      close_fd(client);
      return;
    }
    bool started = false;
    if (request.method == "CONNECT") {
      started = send_all(client, "HTTP/1.1 200 Connection established\r\n\r\n") &&
                send_all(upstream, std::string_view(bytes).substr(head_end + 4));
    } else {
      // The endpoint gets the origin form and every header but the ones
      // meant for the proxy.
      std::string forwarded = request.method + " " + origin_path + " " + version + "\r\n";
      std::size_t at = line.size() + 2;
      while (at < head.size() + 2) {
        std::size_t end = std::min(head.find("\r\n", at), head.size());
        std::string_view header = head.substr(at, end - at);
        if (!starts_with_ignoring_case(header, "proxy-")) forwarded += std::string(header) + "\r\n";
        at = end + 2;
      }
      forwarded += "\r\n";
      started = send_all(upstream, forwarded + bytes.substr(head_end + 4));
    }
    if (started) relay(client, upstream);
    close_fd(upstream);
    close_fd(client);
  }

  void accept_loop() {
    for (;;) {
      if (wait({{listen_fd, POLLIN, 0}}) == Wait::kStopped) return;
      const int client = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::lock_guard<std::mutex> guard(mutex);
      workers.emplace_back([this, client] { serve(client); });
    }
  }
};

FakeProxy::FakeProxy(std::vector<std::string> known_hosts) : state_(std::make_unique<State>()) {
  for (const auto& host : known_hosts) state_->known.push_back(lower(host));
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "FakeProxy: pipe: " << std::strerror(errno);
    return;
  }
  state_->wake_read = wake[0];
  state_->wake_write = wake[1];
  state_->listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (state_->listen_fd < 0 || ::bind(state_->listen_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(state_->listen_fd, 64) != 0 ||
      ::getsockname(state_->listen_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "FakeProxy: cannot listen on 127.0.0.1: " << std::strerror(errno);
    return;
  }
  state_->port = ntohs(address.sin_port);
  state_->acceptor = std::thread([state = state_.get()] { state->accept_loop(); });
}

FakeProxy::~FakeProxy() {
  if (state_->wake_write >= 0) {
    const char stop = 's';
    while (::write(state_->wake_write, &stop, 1) < 0 && errno == EINTR) {}
  }
  if (state_->acceptor.joinable()) state_->acceptor.join();
  // The acceptor has ended, so no worker is added any more.
  for (auto& worker : state_->workers) worker.join();
  close_fd(state_->listen_fd);
  close_fd(state_->wake_read);
  close_fd(state_->wake_write);
}

int FakeProxy::port() const { return state_->port; }

std::string FakeProxy::url() const { return "http://127.0.0.1:" + std::to_string(state_->port); }

std::vector<ProxiedRequest> FakeProxy::requests() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->requests;
}

}  // namespace ruvo::test
