#include "support/http.hpp"

#include "platform/platform.hpp"

#include <signal.h>

#include <cstdlib>

namespace ruvo::test {

std::string request_bytes(std::string_view method, std::string_view path, std::string_view body,
                          std::string_view token) {
  return std::string(method) + " " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: " +
         std::string(token) + "\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + std::string(body);
}

std::string request_text(std::string_view method, std::string_view path,
                         const std::map<std::string, std::string>& headers, std::string_view body) {
  std::string text = std::string(method) + " " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  bool framed = false;
  for (const auto& [name, value] : headers) {
    text += name + ": " + value + "\r\n";
    framed |= name == "Content-Length" || name == "Transfer-Encoding";
  }
  if (!framed) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  text += "Connection: close\r\n\r\n";
  text += body;
  return text;
}

std::optional<std::string> http_exchange(std::uint16_t port, std::string_view request, int timeout_ms) {
  // A service that stops reading must give the test an error, not SIGPIPE.
  static const bool sigpipe_ignored = [] { return ::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
  (void)sigpipe_ignored;
  auto connected = platform::TcpStream::connect_loopback(port, 5000);
  if (!connected) return std::nullopt;
  auto& stream = *connected;
  stream.set_timeouts(timeout_ms, timeout_ms);
  if (!stream.write_all(request)) return std::nullopt;
  std::string received;
  char chunk[16384];
  for (;;) {
    const auto got = stream.read_some(chunk, sizeof chunk);
    if (!got) return std::nullopt;
    if (*got == 0) return received;
    received.append(chunk, *got);
  }
}

HttpReply split_reply(std::string_view bytes) {
  HttpReply reply;
  const std::size_t space = bytes.find(' ');
  if (space != std::string_view::npos && bytes.size() >= space + 4) {
    int status = 0;
    bool digits = true;
    for (const char c : bytes.substr(space + 1, 3)) {
      digits = digits && c >= '0' && c <= '9';
      status = status * 10 + (c - '0');
    }
    if (digits) reply.status = status;
  }
  const std::size_t end = bytes.find("\r\n\r\n");
  reply.head = std::string(bytes.substr(0, end));
  if (end != std::string_view::npos) reply.body = std::string(bytes.substr(end + 4));
  return reply;
}

}  // namespace ruvo::test
