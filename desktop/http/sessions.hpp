// Signing a browser in: one-time sign-in secrets handed out in an address,
// and the sessions they turn into. A session has two values: a cookie, which
// lets the browser load the interface's pages, and a key, which the page
// sends with every API request (kSessionHeader). Cookies are not kept apart
// by port, so any other server on 127.0.0.1 that the browser visits gets
// ours and could replay it; web storage is kept per origin, port included,
// so the key stays with our page. Free of any HTTP library, like the
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
#include <vector>

namespace ruvo::desktop::http {

// GET /sign-in?secret=<one-time secret>: answered with a session cookie and
// a redirect to "/#session=<key>", so the secret leaves the address bar at
// once; the page moves the key into its sessionStorage and off the address
// bar too.
inline constexpr std::string_view kSignInPath = "/sign-in";
inline constexpr std::string_view kSignInSecretParameter = "secret";
inline constexpr std::string_view kSessionFragment = "session";

// The header in which the page sends its session's key.
inline constexpr std::string_view kSessionHeader = "X-Ruvo-Session";

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

  // A session's two values, each 64 hexadecimal digits from the system's
  // random generator, unrelated to each other.
  struct Session {
    std::string cookie;  // the cookie's value: pages and assets
    std::string key;     // sent in kSessionHeader: the API
  };

  // Spends the secret: when it was handed out, is unused and not too old, a
  // new session; nothing otherwise. A secret is never accepted twice.
  std::optional<Session> redeem(std::string_view secret, Clock::time_point now = Clock::now());

  // True when the value is the cookie of a session signed in during this run.
  bool valid_cookie(std::string_view cookie) const;

  // True when the value is the key of a session signed in during this run.
  bool valid_key(std::string_view key) const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::pair<std::string, Clock::time_point>> secrets_;
  std::deque<Session> sessions_;
};

// The session cookie's name. Cookies are kept per host, not per port, so two
// services (two application-data folders) on 127.0.0.1 each need their own.
std::string session_cookie_name(int port);

// The values of every cookie named `name` in a Cookie header ("a=1; b=2"),
// in their order. A browser sends several of one name when they were set for
// different paths (another server on 127.0.0.1 may set one on Path=/v1).
std::vector<std::string> cookie_values(std::string_view header, std::string_view name);

// The Set-Cookie value for a session: HttpOnly, SameSite=Strict, Path=/, no
// expiry (it ends with the browser, and with the service's run).
std::string session_cookie(std::string_view name, std::string_view session);

}  // namespace ruvo::desktop::http
