// `ruvo mcp`: the Model Context Protocol server over standard input/output.
#pragma once

#include "client/client.hpp"
#include "platform/platform.hpp"

#include <functional>
#include <string_view>

namespace ruvo::mcp {

// Serves JSON-RPC messages, one per line, read from `input` until it ends;
// each reply line goes to `write_line` (given without its line feed) as soon
// as it is ready. Tool calls go through `client`. Returns the exit code
// (always 0).
int run_mcp_server(client::Client& client, const platform::ReadFunction& input,
                   const std::function<void(std::string_view)>& write_line);

}  // namespace ruvo::mcp
