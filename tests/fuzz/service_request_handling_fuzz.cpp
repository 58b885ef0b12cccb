// The local service's request handling, everything behind the HTTP
// library: method, path, token header and body as a client may send them,
// against a real store. Input layout: the first line is "METHOD PATH", then
// header lines "Name: value" up to an empty line, then the body. Every reply
// is a JSON object with a boolean "ok" and a status the server can send; a
// request without the right token, or one that is refused, changes nothing
// in the store.
#include "answers/context.hpp"
#include "answers/model_in_use.hpp"
#include "common/json.hpp"
#include "common/utf8.hpp"
#include "http/handlers.hpp"
#include "http/token.hpp"
#include "store/name_index.hpp"
#include "store/store.hpp"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

using ruvo::common::JsonValue;
using ruvo::desktop::store::TermStore;

constexpr std::string_view kToken = "fuzz-token-0123456789abcdef0123456789";
// The store is replaced after this many inputs, so a long run neither fills
// the disk nor slows down on an ever larger table.
constexpr int kInputsPerStore = 20000;

struct Fixture {
  std::string folder;
  std::unique_ptr<TermStore> store;
  std::unique_ptr<ruvo::desktop::store::NameIndex> names;  // over `store`
  ruvo::desktop::answers::Models models;                   // none configured, no model.json
  int used = 0;
};

std::string store_path(const Fixture& fixture) { return fixture.folder + "/terms.sqlite3"; }

void remove_store(const Fixture& fixture) {
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((store_path(fixture) + suffix).c_str());
}

void open_store(Fixture& fixture) {
  fixture.names.reset();
  fixture.store.reset();
  remove_store(fixture);
  // One seeded entry, so lookups and explains can also hit.
  ruvo::desktop::store::TermDraft seed{"RAG", "zh", "term", JsonValue{{"definition", "检索增强生成"}}};
  auto opened = TermStore::open(store_path(fixture), {seed});
  if (!opened.ok()) __builtin_trap();
  fixture.store = std::move(opened.value());
  fixture.names = std::make_unique<ruvo::desktop::store::NameIndex>(*fixture.store);
  fixture.used = 0;
}

Fixture& fixture() {
  static Fixture* fx = [] {
    auto* made = new Fixture;
    // tmpfs when there is one: the store syncs every save to disk.
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string templ = std::string(base) + "/ruvo-fuzz-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) __builtin_trap();
    made->folder = templ;
    open_store(*made);
    std::atexit([] {
      fx->names.reset();
      fx->store.reset();
      remove_store(*fx);
      ::rmdir(fx->folder.c_str());
    });
    return made;
  }();
  return *fx;
}

struct Parsed {
  std::string method;
  std::string path;
  std::optional<std::string> token;
  std::string_view body;
};

Parsed parse_input(std::string_view input) {
  Parsed out;
  auto next_line = [&input]() {
    const std::size_t end = input.find('\n');
    std::string_view line = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  };
  const std::string_view request_line = next_line();
  const std::size_t space = request_line.find(' ');
  out.method = std::string(request_line.substr(0, space));
  if (space != std::string_view::npos) out.path = std::string(request_line.substr(space + 1));
  while (!input.empty()) {
    const std::string_view line = next_line();
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string name(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    // Header names are compared without regard to case, as the HTTP library does.
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "x-ruvo-token" && !out.token) out.token = std::string(value);
  }
  out.body = input;
  return out;
}

std::int64_t count_terms(TermStore& store) {
  auto count = store.count();
  if (!count.ok()) __builtin_trap();
  return count.value();
}

void check_reply(const ruvo::desktop::http::Reply& reply) {
  if (reply.status < 200 || reply.status > 599) __builtin_trap();
  if (!reply.body.is_object()) __builtin_trap();
  const auto ok = reply.body.find("ok");
  if (ok == reply.body.end() || !ok->is_boolean()) __builtin_trap();
  if (ok->get<bool>() != (reply.status == 200) && reply.body.value("kind", "") != "miss") __builtin_trap();
  // What goes on the wire reads back as one JSON object, in valid UTF-8.
  const std::string wire = ruvo::common::to_compact(reply.body);
  if (!ruvo::common::is_valid_utf8(wire)) __builtin_trap();
  const auto again = ruvo::common::parse_json(wire);
  if (!again || !again->is_object()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fixture& fx = fixture();
  if (++fx.used > kInputsPerStore) open_store(fx);
  const Parsed request = parse_input(std::string_view(reinterpret_cast<const char*>(data), size));

  ruvo::desktop::answers::Context answers{*fx.store, "fuzz", fx.models, *fx.names};
  ruvo::desktop::http::HandlerContext ctx{answers, std::string(kToken)};
  const std::int64_t before = count_terms(*fx.store);
  const auto reply =
      ruvo::desktop::http::handle_request(ctx, request.method, request.path, request.token, request.body);
  check_reply(reply);
  const std::int64_t after = count_terms(*fx.store);

  const bool authorised = request.token == kToken;
  if (!authorised && reply.status != 401) __builtin_trap();
  if (reply.status == 401 && authorised) __builtin_trap();
  const bool saved = reply.status == 200 && request.method == "POST" && request.path == "/v1/save";
  if (after != before && !(saved && after == before + 1)) __builtin_trap();

  // The token check the gate makes agrees with plain equality.
  const bool token_ok = request.token && ruvo::desktop::http::tokens_equal(*request.token, kToken);
  if (token_ok != authorised) __builtin_trap();

  // The refusals the HTTP layer asks for, with the status taken from the input.
  const int status = size == 0 ? 400 : 400 + data[size - 1] % 32;
  const auto refusal = ruvo::desktop::http::refusal_reply(status, authorised, ruvo::desktop::http::kMaxBodyBytes);
  check_reply(refusal);
  if (refusal.status != (authorised ? status : 401)) __builtin_trap();
  if (count_terms(*fx.store) != after) __builtin_trap();
  return 0;
}
