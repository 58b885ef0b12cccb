#include "http/gate.hpp"

#include "common/utf8.hpp"
#include "http/token.hpp"
#include "protocol/routes.hpp"

#include <algorithm>

namespace ruvo::desktop::http {

namespace {

bool all_digits(std::string_view text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

void HeadFacts::add(std::string_view key, const char* value, std::size_t value_size) {
  const std::string name = common::ascii_lower(key);
  static const std::string token_name = common::ascii_lower(protocol::kTokenHeader);
  static const std::string session_name = common::ascii_lower(kSessionHeader);
  std::string_view text(value ? value : "", value ? value_size : 0);
  // Blanks around a value are not part of it; the library drops only those
  // before it.
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  bytes += key.size() + value_size + 4;
  lines.push_back({key.data(), value != nullptr && value_size > 0 ? value + value_size : nullptr});
  if (name == "host") {
    ++hosts;
    host = std::string(text);
  } else if (name == token_name) {
    ++tokens;
    token = std::string(text);
  } else if (name == session_name) {
    ++sessions;
    session = std::string(text);
  } else if (name == "content-length") {
    ++lengths;
    length = std::string(text);
  } else if (name == "transfer-encoding") {
    transfer_encoding = true;
  } else if (name == "expect") {
    expects_continue = common::ascii_lower(text) == "100-continue";
  } else if (name == "cookie") {
    cookies += (cookies.empty() ? "" : "; ") + std::string(text);
  } else if (name == "origin") {
    ++origins;
    origin = std::string(text);
  }
}

bool HeadFacts::value_cut_at_nul() const {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const char* p = lines[i].value_end;
    if (p == nullptr) continue;
    const char* next = i + 1 < lines.size() ? lines[i + 1].name : nullptr;
    ++p;  // past the NUL that ends the value
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '\0' && p != next) return true;
  }
  return false;
}

bool is_loopback_host(std::string_view host) {
  std::string_view name = host;
  std::string_view port;
  if (!host.empty() && host.front() == '[') {
    auto close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = host.substr(0, close + 1);
    std::string_view rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (!all_digits(port)) return false;
    }
  } else if (auto colon = host.find(':'); colon != std::string_view::npos) {
    name = host.substr(0, colon);
    port = host.substr(colon + 1);
    if (!all_digits(port)) return false;
  }
  return name == "127.0.0.1" || common::ascii_lower(name) == "localhost" || name == "[::1]";
}

bool is_own_origin(std::string_view origin, int port) {
  const std::string lower = common::ascii_lower(origin);
  const std::string_view text = lower;
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos || text.substr(colon + 1) != std::to_string(port)) return false;
  const std::string_view name = text.substr(0, colon);
  return name == "http://127.0.0.1" || name == "http://localhost" || name == "http://[::1]";
}

bool changes_state(std::string_view method) { return method != "GET" && method != "HEAD" && method != "OPTIONS"; }

std::optional<std::uint64_t> declared_length(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t length = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    length = length * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return length;
}

bool body_follows(const HeadFacts& facts) {
  const auto length = declared_length(facts.length);
  return !facts.expects_continue && (facts.transfer_encoding || (length && *length > 0));
}

Credentials credentials(const HeadFacts& facts, std::string_view expected_token, const Sessions& sessions, int port) {
  Credentials out;
  const bool cut = facts.value_cut_at_nul();
  if (facts.tokens == 1 && !cut) out.token = facts.token;
  out.token_valid = out.token && tokens_equal(*out.token, expected_token);
  if (facts.tokens == 0 && !cut) {
    // Any of our cookies that is valid counts: one of the same name that
    // another server on 127.0.0.1 set (on Path=/v1, say) comes first in the
    // header and must not sign the page out.
    for (const auto& cookie : cookie_values(facts.cookies, session_cookie_name(port))) {
      out.signed_in = sessions.valid_cookie(cookie) || out.signed_in;
    }
    out.session_valid = facts.sessions == 1 && sessions.valid_key(facts.session);
  }
  return out;
}

std::optional<Reply> refuse_foreign(const HeadFacts& facts, std::string_view method, std::string_view path,
                                    std::size_t max_head_bytes, int port) {
  if (facts.hosts > 1 || (facts.hosts == 1 && !is_loopback_host(facts.host))) {
    return error_reply(403, "host", "Host 必须是本机回环地址（127.0.0.1、localhost 或 [::1]）");
  }
  if (facts.bytes + path.size() > max_head_bytes) {
    return error_reply(431, "header_too_large", "请求头超过 " + std::to_string(max_head_bytes / 1024) + " KiB");
  }
  // Browsers name the page that sends a request; one from any page but
  // ours may change nothing, whatever cookie the browser adds to it.
  if (changes_state(method) && facts.origins > 0 && (facts.origins > 1 || !is_own_origin(facts.origin, port))) {
    return error_reply(403, "origin", "拒绝来自其他网页的修改请求：只接受 Ruvo 自己页面发出的请求");
  }
  return std::nullopt;
}

std::optional<Reply> refuse_body(const HeadFacts& facts, bool authorised, std::size_t limit) {
  if (facts.lengths > 1 || facts.value_cut_at_nul()) return refusal_reply(400, authorised, limit);
  // Without a length and without Transfer-Encoding a request has no body,
  // whatever its method (a DELETE from curl, say); a chunked one is refused
  // unread, as it could run on without end.
  if (facts.transfer_encoding) return refusal_reply(411, authorised, limit);
  if (facts.lengths == 1) {
    auto length = declared_length(facts.length);
    if (!length) return refusal_reply(400, authorised, limit);
    if (*length > limit) return refusal_reply(413, authorised, limit);
  }
  return std::nullopt;
}

Admission admit(const HeadFacts& facts, std::string_view method, std::string_view path, const QueryParameters& query,
                HandlerContext& ctx, const BrowserSide& browser, std::size_t max_head_bytes) {
  Admission admission;
  if (auto refused = refuse_foreign(facts, method, path, max_head_bytes, browser.port)) {
    admission.reply = std::move(refused);
    return admission;
  }
  Credentials who = credentials(facts, ctx.token, browser.sessions, browser.port);
  if (auto early = answer_from_head(ctx, browser, method, path, query, who.token_valid, who.signed_in)) {
    admission.reply = std::move(early);
    return admission;
  }
  // The API takes the token or a session's key, never the cookie alone: the
  // cookie reaches every server on 127.0.0.1 that the browser visits.
  admission.token = who.session_valid ? std::optional<std::string>(ctx.token) : who.token;
  const bool authorised = admission.token && tokens_equal(*admission.token, ctx.token);
  admission.reply = refuse_body(facts, authorised, body_limit(method, path));
  return admission;
}

}  // namespace ruvo::desktop::http
