// One-time secrets, sessions and their cookie.
#include "http/sessions.hpp"

#include "http/token.hpp"

#include <algorithm>

namespace ruvo::desktop::http {

std::optional<std::string> Sessions::issue_secret(Clock::time_point now) {
  auto secret = make_token();
  if (!secret) return std::nullopt;
  std::lock_guard<std::mutex> guard(mutex_);
  while (!secrets_.empty() &&
         (secrets_.size() >= kMaxSignInSecrets || now - secrets_.front().second > kSignInSecretLifetime)) {
    secrets_.pop_front();
  }
  secrets_.emplace_back(*secret, now);
  return secret;
}

std::optional<Sessions::Session> Sessions::redeem(std::string_view secret, Clock::time_point now) {
  std::lock_guard<std::mutex> guard(mutex_);
  // Every secret is compared, in constant time, whatever matched before.
  auto found = secrets_.end();
  for (auto it = secrets_.begin(); it != secrets_.end(); ++it) {
    if (tokens_equal(secret, it->first)) found = it;
  }
  if (found == secrets_.end()) return std::nullopt;
  const bool fresh = now >= found->second && now - found->second <= kSignInSecretLifetime;
  secrets_.erase(found);  // spent, used in time or not
  if (!fresh) return std::nullopt;
  auto cookie = make_token();
  auto key = make_token();
  if (!cookie || !key) return std::nullopt;
  if (sessions_.size() >= kMaxSessions) sessions_.pop_front();
  sessions_.push_back(Session{*cookie, *key});
  return sessions_.back();
}

bool Sessions::valid_cookie(std::string_view cookie) const {
  if (cookie.empty()) return false;
  std::lock_guard<std::mutex> guard(mutex_);
  bool found = false;
  for (const auto& known : sessions_) found |= tokens_equal(cookie, known.cookie);
  return found;
}

bool Sessions::valid_key(std::string_view key) const {
  if (key.empty()) return false;
  std::lock_guard<std::mutex> guard(mutex_);
  bool found = false;
  for (const auto& known : sessions_) found |= tokens_equal(key, known.key);
  return found;
}

std::string session_cookie_name(int port) { return "ruvo-session-" + std::to_string(port); }

std::vector<std::string> cookie_values(std::string_view header, std::string_view name) {
  std::vector<std::string> values;
  while (!header.empty()) {
    auto end = header.find(';');
    std::string_view pair = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    while (!pair.empty() && (pair.front() == ' ' || pair.front() == '\t')) pair.remove_prefix(1);
    while (!pair.empty() && (pair.back() == ' ' || pair.back() == '\t')) pair.remove_suffix(1);
    auto equals = pair.find('=');
    if (equals == std::string_view::npos || pair.substr(0, equals) != name) continue;
    values.emplace_back(pair.substr(equals + 1));
  }
  return values;
}

std::string session_cookie(std::string_view name, std::string_view session) {
  return std::string(name) + "=" + std::string(session) + "; HttpOnly; SameSite=Strict; Path=/";
}

}  // namespace ruvo::desktop::http
