#include "client/discovery.hpp"

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
  return protocol::parse_service_info(*text);
}

}  // namespace ruvo::client
