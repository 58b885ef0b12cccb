#include "discovery_file.hpp"

#include "common/json.hpp"
#include "system.hpp"

namespace ruvo::desktop {

std::string discovery_content(int port, std::string_view token, std::string_view version) {
  common::JsonValue value = common::JsonValue::object();
  value["port"] = port;
  value["token"] = std::string(token);
  value["version"] = std::string(version);
  return common::to_compact(value);
}

std::optional<std::string> write_discovery_file(const std::string& path, int port, std::string_view token,
                                                std::string_view version) {
  return write_file_atomically(path, discovery_content(port, token, version));
}

bool remove_own_discovery_file(const std::string& path, std::string_view token) {
  auto text = read_whole_file(path);
  if (!text) return false;
  auto parsed = common::parse_json(*text);
  if (!parsed.value || !parsed.value->is_object()) return false;
  auto found = parsed.value->find("token");
  if (found == parsed.value->end() || !found->is_string() || found->get_ref<const std::string&>() != token) {
    return false;
  }
  return remove_file(path);
}

}  // namespace ruvo::desktop
