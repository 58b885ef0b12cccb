// Raw HTTP for the tests: the exact bytes ruvo sends, requests with any
// headers, one exchange on a connection of its own, and a reply taken apart.
#pragma once

#include "support/temp_dir.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::test {

// The exact bytes ruvo sends for one request: request line, Host,
// X-Ruvo-Token, Content-Type, Content-Length, Connection: close, the empty
// line, the body.
std::string request_bytes(std::string_view method, std::string_view path, std::string_view body = "",
                          std::string_view token = kTestToken);

// A request with the given headers (Host and "Connection: close" added) and
// the body; a Content-Length is added unless the headers name one or
// Transfer-Encoding.
std::string request_text(std::string_view method, std::string_view path,
                         const std::map<std::string, std::string>& headers, std::string_view body);

// Writes the bytes to 127.0.0.1:port and reads until the peer closes the
// connection; nothing when the exchange failed (refused, reset, timed out).
std::optional<std::string> http_exchange(std::uint16_t port, std::string_view request, int timeout_ms = 60000);

struct HttpReply {
  int status = -1;   // the three digits after the first space, -1 when there are none
  std::string head;  // everything before the empty line
  std::string body;  // everything after it
};
HttpReply split_reply(std::string_view bytes);

}  // namespace ruvo::test
