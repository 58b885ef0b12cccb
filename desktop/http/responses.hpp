// A Reply as the HTTP library sends it: the JSON body, a page's bytes or a
// body streamed piece by piece, with its headers. Only the library's adapter
// (http_server.cpp) includes this.
#pragma once

#include "http/replies.hpp"

#include <microhttpd.h>

namespace ruvo::desktop::http {

// The library's response for the reply, with "Connection: close", the
// reply's own headers and, for a browser's request, browser_headers(); null
// when the library has no memory for it.
MHD_Response* make_response(const Reply& reply, bool browser);

}  // namespace ruvo::desktop::http
