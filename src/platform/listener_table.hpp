// The pure part of loopback_listener_trust (listener_owner.hpp): reading the
// socket tables that each system gives and judging the listeners they list.
// No system headers, built on every platform, so that both sides are tested
// where we build.
#pragma once

#include "platform/listener_owner.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ruvo::platform::table {

// --- Linux: /proc/net/tcp and /proc/net/tcp6 ---------------------------------

// True for the local addresses whose listeners take a connection to
// 127.0.0.1: 127.0.0.1 and 0.0.0.0 (4 bytes); ::ffff:127.0.0.1,
// ::ffff:0.0.0.0 and :: (16 bytes). Bytes in network order.
bool reaches_loopback(const std::vector<std::uint8_t>& address);

// One listening socket that a connection to 127.0.0.1 can reach.
struct ProcListener {
  std::uint16_t port = 0;
  std::uint32_t uid = 0;    // the user that opened it
  std::uint64_t inode = 0;  // names it among a process's descriptors ("socket:[inode]")

  bool operator==(const ProcListener&) const = default;
};

// The rows of a /proc/net/tcp or /proc/net/tcp6 text (a line of column heads,
// then one socket a line) in the LISTEN state (st 0A) whose local address
// takes connections to 127.0.0.1: 127.0.0.1 and 0.0.0.0; ::ffff:127.0.0.1,
// ::ffff:0.0.0.0 and ::. The kernel writes an address as 32-bit words in
// hexadecimal, each in the machine's byte order (`order`), and the port in
// hexadecimal. Lines that do not read as a row are skipped.
std::vector<ProcListener> loopback_listeners(std::string_view proc_net_tcp, std::endian order = std::endian::native);

// What the listeners on `port` show before anyone looks at a process:
// kNotTrusted when there is none or one is another user's than `own_uid`;
// otherwise kTrusted, with the inodes that a given process must hold.
struct ProcVerdict {
  ListenerTrust trust = ListenerTrust::kUnknown;
  std::vector<std::uint64_t> inodes;

  bool operator==(const ProcVerdict&) const = default;
};
ProcVerdict judge_proc_listeners(const std::vector<ProcListener>& listeners, std::uint16_t port, std::uint32_t own_uid);

// The inode in a descriptor's link text "socket:[12345]"; nothing for any
// other text (a file, a pipe, "anon_inode:[eventfd]").
std::optional<std::uint64_t> socket_inode(std::string_view link);

// --- Windows: GetExtendedTcpTable(TCP_TABLE_OWNER_PID_LISTENER, AF_INET) -----

// One row as the system lists it, in host terms.
struct TableListener {
  std::array<std::uint8_t, 4> address{};  // e.g. {127, 0, 0, 1}
  std::uint16_t port = 0;
  std::uint32_t pid = 0;  // the owning process; 0 where the system does not say
};

// What the rows on `port` bound to 127.0.0.1 or 0.0.0.0 show before the
// owners' users are compared: kNotTrusted when there is none or, with a
// `pid`, one is another process's; kUnknown when an owner is given as 0
// (Wine says that of every process that is not its own); otherwise kTrusted,
// with the owners (each once) whose user must be ours.
struct TableVerdict {
  ListenerTrust trust = ListenerTrust::kUnknown;
  std::vector<std::uint32_t> owners;

  bool operator==(const TableVerdict&) const = default;
};
TableVerdict judge_table_listeners(const std::vector<TableListener>& rows, std::uint16_t port,
                                   std::optional<std::uint32_t> pid);

}  // namespace ruvo::platform::table
