// Serving the routes over HTTP with cpp-httplib.
#pragma once

#include "log.hpp"
#include "routes.hpp"

namespace httplib {
class Server;
}

namespace ruvo::desktop {

// Sets the server up to answer every request through handle_request: one
// request per connection, so every reply carries "Connection: close" and the
// connection is closed after it; every reply is one JSON object with a
// Content-Length (never chunked); bodies over kMaxBodyBytes are refused with
// 413 and chunked request bodies with 411, before they are held in memory;
// the replies the library makes on its own (a malformed request, say) get a
// JSON body too. Each request is logged by method, path and status, never by
// its headers or body. `ctx` and `log` must outlive the server.
void install_service(httplib::Server& server, ServiceContext& ctx, Log& log);

}  // namespace ruvo::desktop
