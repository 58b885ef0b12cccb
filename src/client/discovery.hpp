// Finding the local service: the discovery file in the application-data
// folder, read afresh for every request.
#pragma once

#include "common/result.hpp"
#include "protocol/service_info.hpp"

#include <string>

namespace ruvo::client {

using protocol::ServiceInfo;

// <application-data folder>/com.corvanta.desktop, or an error when there is
// no application-data folder.
common::Result<std::string> data_folder();

// data_folder()/explain.json.
common::Result<std::string> discovery_file_path();

// Reads and validates the discovery file; an error when it is missing,
// unreadable, not UTF-8 or not valid, and when the socket listening on its
// port is known not to be its service's: another user's, or not the process
// its "pid" names (platform::loopback_listener_trust). Callers treat every
// error alike: as no service answering.
common::Result<ServiceInfo> read_service_info();

}  // namespace ruvo::client
