// Who owns the socket that would take a connection to 127.0.0.1:<port>: the
// question ruvo asks before it sends its token to a port that a discovery
// file names, since after a service died without cleanup any program may
// listen there next. listener_owner_posix.cpp (Linux's /proc) and
// listener_owner_win32.cpp (the system's TCP table) answer it; the reading of
// what they gather is pure code in listener_table.hpp.
#pragma once

#include <cstdint>
#include <optional>

namespace ruvo::platform {

enum class ListenerTrust {
  kTrusted,     // every such listener is this user's and, when a pid was given, that process's
  kNotTrusted,  // another user's listener, one that is not the given process's, a given process
                //   that does not exist, or no listener at all
  kUnknown,     // the system cannot tell (no /proc, a failed table call, an owner it hides)
};

// Looks at every listening socket that a connection to 127.0.0.1:port could
// reach (bound to 127.0.0.1 or to any address, IPv4 or IPv6 where the system
// lists both). Quick enough to run before every request: it reads the
// system's socket table and, with a pid, that process's open descriptors
// until the listener is among them.
ListenerTrust loopback_listener_trust(std::uint16_t port, std::optional<std::uint32_t> pid);

}  // namespace ruvo::platform
