// The gate every request passes before its body is read: what its head
// says (Host, Origin, the token, the session's cookie and key, the body's
// length), and what that alone decides. Pure functions over a parsed head,
// so each rule is tested without a socket.
#pragma once

#include "http/handlers.hpp"
#include "http/replies.hpp"
#include "http/sessions.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::http {

// What the headers of a request say, read once.
struct HeadFacts {
  std::size_t bytes = 0;  // the head as sent, roughly: names, values, separators
  int hosts = 0;
  std::string host;
  int tokens = 0;
  std::optional<std::string> token;
  int sessions = 0;
  std::string session;  // kSessionHeader's value
  int lengths = 0;
  std::string length;
  bool transfer_encoding = false;
  bool expects_continue = false;  // the client sends its body only when told to
  std::string cookies;            // every Cookie header, joined by "; "
  int origins = 0;
  std::string origin;
  // Where each value ends in the HTTP library's buffer, and where the next
  // header line begins, to find values the library cut at a NUL.
  struct Line {
    const char* name;
    const char* value_end;  // null for an empty value
  };
  std::vector<Line> lines;

  // Takes one header as the library gives it: its name (any case) and its
  // value, which the library has stripped of blanks before it only.
  void add(std::string_view name, const char* value, std::size_t value_size);

  // True when a value held a NUL with more after it. The library parses the
  // head in place and reads values as C strings, so "token\0junk" reaches us
  // as "token", with the rest still in the buffer up to the line's end,
  // which it also turned into NULs. A clean value ends at that terminator
  // (after any trailing blanks), or, for a line ended by a bare LF, where
  // the next line's name begins. The reads stay within the line.
  bool value_cut_at_nul() const;
};

// True when a Host header value names this machine's loopback:
// "127.0.0.1", "localhost" or "[::1]", each with or without ":<port>".
bool is_loopback_host(std::string_view host);

// True when an Origin header names the service itself: "http://" and one of
// the loopback names a page may be loaded from (127.0.0.1, localhost, [::1])
// with the service's port. "null" and every other origin are foreign.
bool is_own_origin(std::string_view origin, int port);

// True for the methods that change something.
bool changes_state(std::string_view method);

// The declared length, or nothing when it is not a plain decimal number.
std::optional<std::uint64_t> declared_length(std::string_view text);

// True when a body is on its way whatever is answered: one is announced
// (chunked, or a length above 0) and the client does not wait to be told to
// send it (Expect: 100-continue).
bool body_follows(const HeadFacts& facts);

// What the head says of who is asking.
struct Credentials {
  // The token the request counts as carrying: its header token when given
  // once and not cut at a NUL, else nothing.
  std::optional<std::string> token;
  bool token_valid = false;    // that token is the service's
  bool signed_in = false;      // no token header, and a session cookie of this run among the cookies
  bool session_valid = false;  // no token header, and one kSessionHeader with a session key of this run
};

// A token given twice, or with bytes after a NUL, is no token; a session's
// cookie and key count only for a request without a token header, the key
// only when given once. Any one of several cookies of our name may be the
// valid one.
Credentials credentials(const HeadFacts& facts, std::string_view expected_token, const Sessions& sessions, int port);

// The checks that come before anything else, in order: a Host that is not
// this machine's loopback, or given twice (403 "host"); a head over
// max_head_bytes (431); a change asked for by another origin's page, or by a
// request naming two origins (403 "origin").
std::optional<Reply> refuse_foreign(const HeadFacts& facts, std::string_view method, std::string_view path,
                                    std::size_t max_head_bytes, int port);

// The rules of the body, for a request `authorised` or not (a wrong token is
// refused first, as 401): two lengths or a value cut at a NUL (400), a
// chunked body (411), a length that is no number (400) or over `limit`
// (413). A request with neither a length nor Transfer-Encoding has an empty
// body, whatever its method.
std::optional<Reply> refuse_body(const HeadFacts& facts, bool authorised, std::size_t limit);

// What the gate makes of a request's head.
struct Admission {
  std::optional<Reply> reply;        // answered from the head: a refusal, or a browser route's reply
  std::optional<std::string> token;  // the token the request goes on with (the service's for a signed-in browser)
};

// The whole gate, in order: refuse_foreign, the routes answered from the head
// (answer_from_head; pages take the token or the session's cookie), then
// refuse_body. A request with a valid session key goes on as if it carried
// the token; the session's cookie alone opens no API route.
Admission admit(const HeadFacts& facts, std::string_view method, std::string_view path, const QueryParameters& query,
                HandlerContext& ctx, const BrowserSide& browser, std::size_t max_head_bytes);

}  // namespace ruvo::desktop::http
