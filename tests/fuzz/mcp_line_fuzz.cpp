// The MCP loop on agent input: one line in gives at most one reply line out,
// and that reply is a JSON-RPC object carrying the request's id. The tool
// layer runs for real over a scripted service access, so tool results built
// from every kind of argument and service reply go through the loop too.
// The same bytes are then served as a whole stream, read by the line reader
// in small pieces: never more replies than lines, every reply one line.
#include "common/json.hpp"
#include "common/utf8.hpp"
#include "mcp/line_reader.hpp"
#include "mcp/loop.hpp"
#include "mcp/tools.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using ruvo::common::JsonValue;

// The service a tool call reaches: down, an error text, or the request body
// echoed back inside a reply, chosen by the arguments so the fuzzer steers it.
class ScriptedClient final : public ruvo::client::Client {
 public:
  explicit ScriptedClient(bool down) : down_(down) {}
  using ruvo::client::Client::ensure_service;
  ruvo::common::Result<ruvo::protocol::ServiceInfo> ensure_service(const ruvo::client::OnWait&) override {
    if (down_) return ruvo::common::failure("down");
    return ruvo::protocol::ServiceInfo{4242, "fuzz-token-0123456789", ""};
  }
  ruvo::common::Result<JsonValue> exchange(const ruvo::protocol::ServiceInfo&, const ruvo::protocol::Route& route,
                                           const JsonValue* body, const ruvo::client::OnWait&) override {
    if (body == nullptr) return JsonValue{{"ok", true}};
    if (body->contains("fail")) return ruvo::common::failure("read: fuzz (os error 1)");
    JsonValue reply = *body;
    reply["path"] = std::string(route.method) + " " + std::string(route.path);
    return reply;
  }
  ruvo::common::Result<void> start_service() override { return {}; }

 private:
  bool down_;
};

struct Tools {
  int calls = 0;
  JsonValue call(std::string_view name, const JsonValue& arguments) {
    ++calls;
    ScriptedClient client(arguments.is_object() && arguments.contains("down"));
    return ruvo::mcp::call_tool(name, arguments, client);
  }
};

// A reply line must be one line of compact JSON: an object with "jsonrpc"
// "2.0", the request's "id", and exactly one of "result" and "error".
void check_reply(const std::string& line) {
  if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos) __builtin_trap();
  if (!ruvo::common::is_valid_utf8(line)) __builtin_trap();
  const auto parsed = ruvo::common::parse_json(line);
  if (!parsed || !parsed->is_object()) __builtin_trap();
  const JsonValue& reply = *parsed;
  if (!reply.contains("id") || reply.value("jsonrpc", "") != "2.0") __builtin_trap();
  if (reply.contains("result") == reply.contains("error")) __builtin_trap();
  if (ruvo::common::to_compact(reply) != line) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // One line, as the loop gets it from the reader.
  Tools tools;
  const auto caller = [&tools](std::string_view name, const JsonValue& arguments) {
    return tools.call(name, arguments);
  };
  const auto reply = ruvo::mcp::answer_line(input, caller);
  if (tools.calls > 1) __builtin_trap();
  if (reply) {
    check_reply(*reply);
  } else if (tools.calls != 0) {
    __builtin_trap();  // a tool ran for a message that got no reply
  }

  // The whole input as a stream, read in pieces whose size the input picks:
  // small ones, so line ends fall on every kind of boundary, but growing with
  // the input, as every read costs the reader a chunk-sized buffer.
  const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 13 + size / 8;
  std::size_t offset = 0;
  ruvo::mcp::LineReader reader([&](char* buffer, std::size_t capacity)
                                   -> ruvo::common::Result<std::size_t> {
    const std::size_t n = std::min({piece, capacity, size - offset});
    std::memcpy(buffer, input.data() + offset, n);
    offset += n;
    return n;
  });
  std::size_t lines = 0;
  std::size_t replies = 0;
  std::string rebuilt;
  bool last_line_valid = true;
  ruvo::mcp::serve(
      [&]() -> std::optional<std::string> {
        auto line = reader.next_line();
        if (line) {
          ++lines;
          rebuilt += *line;
          last_line_valid = ruvo::common::is_valid_utf8(*line);
        }
        return line;
      },
      [&](std::string_view line) {
        ++replies;
        check_reply(std::string(line));
      },
      caller);
  if (replies > lines) __builtin_trap();
  // The reader hands out the input unchanged, and only a line that is not
  // UTF-8 stops the loop before the end.
  if (input.substr(0, rebuilt.size()) != rebuilt) __builtin_trap();
  if (rebuilt.size() != size && last_line_valid) __builtin_trap();
  return 0;
}
