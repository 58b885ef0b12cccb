// `ruvo mcp`: the Model Context Protocol server over standard input/output.
#pragma once

namespace ruvo::mcp {

// Serves JSON-RPC messages, one per line, until standard input ends; returns
// the exit code (always 0).
int run_mcp_server();

}  // namespace ruvo::mcp
