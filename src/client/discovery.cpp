#include "client/discovery.hpp"

#include "platform/listener_owner.hpp"
#include "platform/platform.hpp"

namespace ruvo::client {

common::Result<std::string> data_folder() {
  const auto root = platform::app_data_folder();
  if (!root) return common::failure("no application-data folder");
  return platform::join_path(*root, protocol::kDataFolderName);
}

common::Result<std::string> discovery_file_path() {
  auto folder = data_folder();
  if (!folder) return folder.error();
  return platform::join_path(*folder, protocol::kDiscoveryFileName);
}

common::Result<ServiceInfo> read_service_info() {
  const auto path = discovery_file_path();
  if (!path) return path.error();
  const auto text = platform::read_file(*path);
  if (!text) return common::failure("cannot read " + *path);
  auto info = protocol::parse_service_info(*text);
  if (!info) return info;
  // A service that died without cleanup leaves its file behind, and whatever
  // listens on that port next would be sent the token and every question.
  // So the port must be held by this user and, when the file names its
  // writer, by that process; where the system cannot tell, the file stands.
  if (platform::loopback_listener_trust(info->port, info->pid) == platform::ListenerTrust::kNotTrusted) {
    return common::failure("the discovery file names a port that its service does not hold");
  }
  return info;
}

}  // namespace ruvo::client
