// Signing a browser in: one-time sign-in secrets handed out in an address,
// and the session cookies they turn into. Free of any HTTP library, like the
// handlers.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ruvo::desktop::http {

// GET /sign-in?secret=<one-time secret>: answered with a session cookie and
// a redirect to "/", so the secret leaves the address bar at once.
inline constexpr std::string_view kSignInPath = "/sign-in";
inline constexpr std::string_view kSignInSecretParameter = "secret";

// A secret not used within this long is forgotten.
inline constexpr std::chrono::minutes kSignInSecretLifetime{10};
// Bounds on what a flood of links or sign-ins can make the service keep; the
// oldest goes first.
inline constexpr std::size_t kMaxSignInSecrets = 32;
inline constexpr std::size_t kMaxSessions = 64;

// The secrets handed out and the sessions signed in, for one run of the
// service (a restart signs every browser out). Safe to use from any thread.
class Sessions {
 public:
  using Clock = std::chrono::steady_clock;

  // A fresh secret (64 hexadecimal digits from the system's random
  // generator), good for one sign-in within kSignInSecretLifetime; nothing
  // when no random bytes are to be had.
  std::optional<std::string> issue_secret(Clock::time_point now = Clock::now());

  // Spends the secret: when it was handed out, is unused and not too old, a
  // new session's value (64 hexadecimal digits) for the cookie; nothing
  // otherwise. A secret is never accepted twice.
  std::optional<std::string> redeem(std::string_view secret, Clock::time_point now = Clock::now());

  // True when the value names a session signed in during this run.
  bool valid(std::string_view session) const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::pair<std::string, Clock::time_point>> secrets_;
  std::deque<std::string> sessions_;
};

// The session cookie's name. Cookies are kept per host, not per port, so two
// services (two application-data folders) on 127.0.0.1 each need their own.
std::string session_cookie_name(int port);

// The value of the cookie `name` in a Cookie header ("a=1; b=2"), or nothing.
std::optional<std::string> cookie_value(std::string_view header, std::string_view name);

// The Set-Cookie value for a session: HttpOnly, SameSite=Strict, Path=/, no
// expiry (it ends with the browser, and with the service's run).
std::string session_cookie(std::string_view name, std::string_view session);

}  // namespace ruvo::desktop::http
