#include "client/http.hpp"

#include "client/wait.hpp"
#include "common/utf8.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <chrono>

namespace ruvo::client {
namespace {

constexpr std::string_view kHeadBodySeparator = "\r\n\r\n";

// The first two words of the head, split at runs of Unicode white space;
// empty when missing.
std::pair<std::string_view, std::string_view> first_two_words(std::string_view head) {
  std::string_view words[2];
  int found = 0;
  std::size_t pos = 0;
  std::size_t word_start = std::string_view::npos;
  while (pos <= head.size() && found < 2) {
    bool space = true;
    std::size_t length = 1;
    if (pos < head.size()) {
      const auto step = common::decode_utf8(head, pos);
      space = step.valid && common::is_unicode_space(step.scalar);
      length = step.length;
    }
    if (!space && word_start == std::string_view::npos) word_start = pos;
    if (space && word_start != std::string_view::npos) {
      words[found++] = head.substr(word_start, pos - word_start);
      word_start = std::string_view::npos;
    }
    pos += length;
  }
  return {words[0], words[1]};
}

// Digits only, at most one leading '+', value 0 to 65535.
bool parse_status(std::string_view word, unsigned& status) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  if (word.empty()) return false;
  unsigned value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > 65535) return false;
  }
  status = value;
  return true;
}

JsonValue bad_token_reply() {
  JsonValue reply = JsonValue::object();
  reply["kind"] = "auth";
  reply["message"] = std::string(kBadTokenMessage);
  reply["ok"] = false;
  return reply;
}

}  // namespace

std::string build_request(const ServiceInfo& info, std::string_view method, std::string_view path,
                          const JsonValue* body) {
  const std::string body_text = body != nullptr ? common::to_compact(*body) : std::string();
  std::string request;
  request.reserve(160 + info.token.size() + body_text.size());
  request.append(method);
  request += ' ';
  request.append(path);
  request += " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  request.append(protocol::kTokenHeader);
  request += ": ";
  request += info.token;
  request += "\r\nContent-Type: application/json\r\nContent-Length: ";
  request += std::to_string(body_text.size());
  request += "\r\nConnection: close\r\n\r\n";
  request += body_text;
  return request;
}

ServiceReply parse_reply(std::string_view bytes) {
  const auto separator = bytes.find(kHeadBodySeparator);
  if (separator == std::string_view::npos) return common::failure("响应没有头体分隔");

  const std::string head = common::to_valid_utf8(bytes.substr(0, separator));
  const auto [version_word, status_word] = first_two_words(head);
  unsigned status = 0;
  if (version_word.empty() || !parse_status(status_word, status)) {
    return common::failure("响应状态行不合法");
  }

  // The body is parsed before the status is looked at: a 401 whose body is not
  // JSON is reported as such.
  auto parsed = common::parse_json(bytes.substr(separator + kHeadBodySeparator.size()));
  if (!parsed) return common::failure("响应不是 JSON：" + parsed.error().text());
  if (status == 401) return bad_token_reply();
  return parsed;
}

ServiceReply service_request(const ServiceInfo& info, const protocol::Route& route, const JsonValue* body,
                             const std::function<void()>& still_waiting) {
  auto connected = platform::TcpStream::connect_loopback(info.port, kConnectTimeoutMs);
  if (!connected) return common::failure("连不上 Ruvo 服务：" + connected.error().text());
  // The stream closes itself on every path out of this function.
  auto& stream = *connected;
  stream.set_timeouts(route.read_timeout_s * 1000, kWriteTimeoutMs);

  if (const auto written = stream.write_all(build_request(info, route.method, route.path, body)); !written) {
    return common::failure("write: " + written.error().text());
  }

  // The read time-out bounds the whole reply too, not only each read: a
  // service that drips a byte now and then would otherwise hold the caller
  // (an agent's tool call, the launcher's probe) for as long as it likes.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(route.read_timeout_s);
  std::string received;
  char chunk[kReadChunkBytes];
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return common::failure("read: " + platform::TcpStream::read_timed_out().text());
    if (still_waiting) {
      // Waiting in short steps, under the same deadline, so that someone
      // hears of it; the read below then finds its bytes at once.
      const auto ready = stream.wait_readable(static_cast<int>(std::min<long long>(left, kWaitTickMs)));
      if (!ready) return common::failure("read: " + ready.error().text());
      if (!*ready) {
        still_waiting();
        continue;
      }
    }
    stream.set_read_timeout(static_cast<int>(left));
    const auto got = stream.read_some(chunk, sizeof chunk);
    if (!got) return common::failure("read: " + got.error().text());
    const std::size_t n = *got;
    if (n == 0) break;
    received.append(chunk, n);
    if (received.size() > kMaxReplyBytes) return common::failure("响应过大");
  }
  stream.close();
  return parse_reply(received);
}

}  // namespace ruvo::client
