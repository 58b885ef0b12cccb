#include "mcp/server.hpp"

#include "mcp/line_reader.hpp"
#include "mcp/loop.hpp"
#include "mcp/tools.hpp"
#include "platform/platform.hpp"

#include <string>

namespace ruvo::mcp {

int run_mcp_server() {
  LineReader reader(platform::read_stdin);
  serve([&reader] { return reader.next_line(); },
        [](std::string_view line) {
          // write_stdout is unbuffered: the line is on the pipe when it
          // returns. A failed write is ignored and the next line is read.
          std::string bytes(line);
          bytes.push_back('\n');
          platform::write_stdout(bytes);
        },
        call_tool);
  return 0;
}

}  // namespace ruvo::mcp
