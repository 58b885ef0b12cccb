// Reading the systems' socket tables for loopback_listener_trust: pure code,
// tested on every platform.
#include "platform/listener_table.hpp"

#include <algorithm>
#include <charconv>

namespace ruvo::platform::table {
namespace {

constexpr std::string_view kListenState = "0A";

using Address = std::vector<std::uint8_t>;

template <typename Number>
std::optional<Number> parse_number(std::string_view text, int base) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// The fields of one line, split at runs of spaces and tabs.
std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

// The address bytes of the kernel's hexadecimal words, in network order.
std::optional<Address> address_bytes(std::string_view hex, std::endian order) {
  if (hex.size() != 8 && hex.size() != 32) return std::nullopt;
  Address bytes;
  for (std::size_t at = 0; at < hex.size(); at += 8) {
    const auto word = parse_number<std::uint32_t>(hex.substr(at, 8), 16);
    if (!word) return std::nullopt;
    for (int k = 0; k < 4; ++k) {
      const int shift = order == std::endian::little ? 8 * k : 8 * (3 - k);
      bytes.push_back(static_cast<std::uint8_t>(*word >> shift));
    }
  }
  return bytes;
}

}  // namespace

bool reaches_loopback(const Address& address) {
  const Address loopback{127, 0, 0, 1};
  const Address any{0, 0, 0, 0};
  if (address.size() == 4) return address == loopback || address == any;
  if (address.size() != 16) return false;
  // ::, or the IPv4-mapped ::ffff:127.0.0.1 and ::ffff:0.0.0.0.
  const bool zero_head = std::all_of(address.begin(), address.begin() + 10, [](std::uint8_t b) { return b == 0; });
  if (!zero_head) return false;
  const Address tail(address.begin() + 12, address.end());
  if (address[10] == 0 && address[11] == 0) return tail == any;
  return address[10] == 0xFF && address[11] == 0xFF && (tail == loopback || tail == any);
}

namespace {

std::optional<ProcListener> listener_of(std::string_view line, std::endian order) {
  // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
  const auto fields = fields_of(line);
  if (fields.size() < 10 || fields[3] != kListenState) return std::nullopt;
  const std::string_view local = fields[1];
  const auto colon = local.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto address = address_bytes(local.substr(0, colon), order);
  const auto port = parse_number<std::uint16_t>(local.substr(colon + 1), 16);
  const auto uid = parse_number<std::uint32_t>(fields[7], 10);
  const auto inode = parse_number<std::uint64_t>(fields[9], 10);
  if (!address || !port || !uid || !inode || !reaches_loopback(*address)) return std::nullopt;
  return ProcListener{*port, *uid, *inode};
}

}  // namespace

std::vector<ProcListener> loopback_listeners(std::string_view proc_net_tcp, std::endian order) {
  std::vector<ProcListener> listeners;
  while (!proc_net_tcp.empty()) {
    const auto end = proc_net_tcp.find('\n');
    const std::string_view line = proc_net_tcp.substr(0, end);
    proc_net_tcp = end == std::string_view::npos ? std::string_view() : proc_net_tcp.substr(end + 1);
    // The line of column heads has "local_address" where a row has an address.
    if (auto listener = listener_of(line, order)) listeners.push_back(*listener);
  }
  return listeners;
}

ProcVerdict judge_proc_listeners(const std::vector<ProcListener>& listeners, std::uint16_t port,
                                 std::uint32_t own_uid) {
  ProcVerdict verdict{ListenerTrust::kNotTrusted, {}};
  for (const ProcListener& listener : listeners) {
    if (listener.port != port) continue;
    // Whichever of several listeners takes the connection, none may be a
    // stranger's.
    if (listener.uid != own_uid) return ProcVerdict{ListenerTrust::kNotTrusted, {}};
    verdict.trust = ListenerTrust::kTrusted;
    verdict.inodes.push_back(listener.inode);
  }
  return verdict;
}

std::optional<std::uint64_t> socket_inode(std::string_view link) {
  constexpr std::string_view kHead = "socket:[";
  if (!link.starts_with(kHead) || !link.ends_with(']')) return std::nullopt;
  return parse_number<std::uint64_t>(link.substr(kHead.size(), link.size() - kHead.size() - 1), 10);
}

TableVerdict judge_table_listeners(const std::vector<TableListener>& rows, std::uint16_t port,
                                   std::optional<std::uint32_t> pid) {
  constexpr std::array<std::uint8_t, 4> kLoopback{127, 0, 0, 1};
  constexpr std::array<std::uint8_t, 4> kAny{0, 0, 0, 0};
  TableVerdict verdict{ListenerTrust::kNotTrusted, {}};
  bool owner_hidden = false;
  for (const TableListener& row : rows) {
    if (row.port != port || (row.address != kLoopback && row.address != kAny)) continue;
    if (row.pid == 0) {
      owner_hidden = true;
      continue;
    }
    // A listener known to be another process's settles it, hidden owners or not.
    if (pid && row.pid != *pid) return TableVerdict{ListenerTrust::kNotTrusted, {}};
    verdict.trust = ListenerTrust::kTrusted;
    if (std::find(verdict.owners.begin(), verdict.owners.end(), row.pid) == verdict.owners.end()) {
      verdict.owners.push_back(row.pid);
    }
  }
  if (owner_hidden) return TableVerdict{ListenerTrust::kUnknown, {}};
  return verdict;
}

}  // namespace ruvo::platform::table
