// The local service's listening socket on 127.0.0.1 and the descriptors it
// needs for its connections. listener_posix.cpp implements it.
#pragma once

#include "common/result.hpp"

#include <cstdint>

namespace ruvo::platform {

using common::Error;
using common::Result;

// A TCP socket listening on 127.0.0.1 at a port the system chose.
struct Listener {
  int fd = -1;
  int port = 0;
};

// Opens a listening socket on 127.0.0.1 with a free port, the longest
// backlog the system allows and close-on-exec.
Result<Listener> listen_on_loopback();

// Raises the soft limit of open files towards `wanted` (never past the hard
// limit, never lowering it) and returns the limit in effect afterwards.
std::uint64_t raise_open_file_limit(std::uint64_t wanted);

// Shuts the socket down for both directions. For a listening socket, every
// accept on it fails from then on, through any of its descriptors.
void shut_down_socket(int fd);

void close_descriptor(int fd);

}  // namespace ruvo::platform
