// The browser's side of the service: signing in by a one-time address, the
// sign-in links ruvo-gui.exe hands out, the interface's pages, and the
// headers every reply to a browser carries.
#pragma once

#include "http/handlers.hpp"
#include "http/replies.hpp"

#include <string_view>
#include <utility>
#include <vector>

namespace ruvo::desktop::http {

// GET /sign-in?secret=<one-time secret>: a redirect (303) to
// "/#session=<the session's key>" with the session's cookie, so the secret
// leaves the address bar at once; a used, stale or unknown secret gets the
// refused page (401).
Reply sign_in(const Call& call);

// POST /v1/sign-in-link: {"ok":true,"url":"http://127.0.0.1:<port>/sign-in?secret=…"},
// a fresh sign-in address; 500 "internal" when the system gives no random
// bytes.
Reply sign_in_link(const Call& call);

// A page of the interface, or the file it loads (ui::find_asset).
Reply page(const Call& call);

// What a browser gets instead of the interface when it is not signed in.
Reply signed_out_page();

// The headers every reply to a browser carries: a Content-Security-Policy
// that allows only the service itself and no framing, nosniff, no referrer,
// and no caching.
const std::vector<std::pair<std::string_view, std::string_view>>& browser_headers();

}  // namespace ruvo::desktop::http
