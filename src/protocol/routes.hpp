// The local service's routes as both programs know them: method, path and
// how long ruvo waits for each reply, and the header that carries the token.
#pragma once

#include <string_view>

namespace ruvo::protocol {

inline constexpr std::string_view kTokenHeader = "X-Ruvo-Token";

struct Route {
  std::string_view method;
  std::string_view path;
  int read_timeout_s;  // ruvo's per-read time-out for the reply
};

// Health answers fast or not at all: it is the probe before every request.
inline constexpr Route kHealthRoute{"GET", "/v1/health", 3};
inline constexpr Route kLookupRoute{"POST", "/v1/lookup", 10};
inline constexpr Route kSaveRoute{"POST", "/v1/save", 15};
// A model's answer may take the service's whole 80 s bound; ruvo waits longer.
inline constexpr Route kExplainRoute{"POST", "/v1/explain", 95};

// The routes ruvo's commands and MCP tools call.
inline constexpr Route kRoutes[] = {kHealthRoute, kLookupRoute, kSaveRoute, kExplainRoute};

// What `ruvo-gui.exe --open` and `--url` ask a running service for: a fresh
// one-time sign-in address, {"ok":true,"url":"http://127.0.0.1:<port>/sign-in?secret=…"}.
inline constexpr Route kSignInLinkRoute{"POST", "/v1/sign-in-link", 10};

}  // namespace ruvo::protocol
