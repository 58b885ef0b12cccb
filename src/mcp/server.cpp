#include "mcp/server.hpp"

#include "mcp/line_reader.hpp"
#include "mcp/loop.hpp"
#include "mcp/tools.hpp"

namespace ruvo::mcp {

int run_mcp_server(client::Client& client, const platform::ReadFunction& input,
                   const std::function<void(std::string_view)>& write_line) {
  LineReader reader(input);
  serve([&reader] { return reader.next_line(); }, write_line,
        [&client](std::string_view name, const JsonValue& arguments) { return call_tool(name, arguments, client); });
  return 0;
}

}  // namespace ruvo::mcp
