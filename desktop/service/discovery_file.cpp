#include "service/discovery_file.hpp"

#include "common/json.hpp"
#include "platform/daemon.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "protocol/service_info.hpp"

namespace ruvo::desktop::service {

common::Result<void> write_discovery_file(const std::string& path, int port, std::string_view token,
                                          std::string_view version) {
  return platform::write_file_atomically(path, protocol::discovery_content(port, token, version, static_cast<std::uint32_t>(platform::current_pid())));
}

bool remove_own_discovery_file(const std::string& path, std::string_view token) {
  auto text = platform::read_file(path);
  if (!text) return false;
  auto parsed = common::parse_json(*text);
  if (!parsed || !parsed->is_object()) return false;
  auto found = parsed->find("token");
  if (found == parsed->end() || !found->is_string() || found->get_ref<const std::string&>() != token) {
    return false;
  }
  return platform::remove_file(path).ok();
}

}  // namespace ruvo::desktop::service
