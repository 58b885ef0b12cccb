// loopback_listener_trust on Windows: the system's table of listening TCP
// sockets names each one's owning process, and that process's token names
// its user, which must be ours.
#include "platform/listener_owner.hpp"

#include "platform/listener_table.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <memory>
#include <vector>

namespace ruvo::platform {
namespace {

// The listening IPv4 sockets with their owners, or nothing when the table
// cannot be had.
std::optional<std::vector<table::TableListener>> listening_sockets() {
  std::vector<unsigned char> buffer;
  DWORD size = 0;
  DWORD status = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between the call that sizes it and the one that
  // fills it; a few tries settle that.
  for (int attempt = 0; attempt < 4 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.resize(size == 0 ? sizeof(MIB_TCPTABLE_OWNER_PID) : size);
    size = static_cast<DWORD>(buffer.size());
    status = GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (status != NO_ERROR) return std::nullopt;
  const auto* tcp = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  std::vector<table::TableListener> rows;
  for (DWORD i = 0; i < tcp->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = tcp->table[i];
    table::TableListener listener;
    // The address is kept in network order, as its bytes stand in memory;
    // the port is the low 16 bits, in network order too.
    std::memcpy(listener.address.data(), &row.dwLocalAddr, 4);
    listener.port = ntohs(static_cast<u_short>(row.dwLocalPort & 0xFFFF));
    listener.pid = row.dwOwningPid;
    rows.push_back(listener);
  }
  return rows;
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The user of a process's token, or nothing.
std::optional<std::vector<unsigned char>> token_user(HANDLE process) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return std::nullopt;
  const Handle token(raw);
  DWORD size = 0;
  GetTokenInformation(raw, TokenUser, nullptr, 0, &size);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> user(size);
  if (!GetTokenInformation(raw, TokenUser, user.data(), size, &size)) return std::nullopt;
  return user;
}

ListenerTrust same_user(DWORD pid, const std::vector<unsigned char>& own) {
  const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  // A process that is gone, or one we may not look into, proves nothing:
  // the system lists the socket as that process's.
  if (!process) return ListenerTrust::kUnknown;
  const auto user = token_user(process.get());
  if (!user) return ListenerTrust::kUnknown;
  const auto* theirs = reinterpret_cast<const TOKEN_USER*>(user->data());
  const auto* ours = reinterpret_cast<const TOKEN_USER*>(own.data());
  return EqualSid(theirs->User.Sid, ours->User.Sid) ? ListenerTrust::kTrusted : ListenerTrust::kNotTrusted;
}

}  // namespace

ListenerTrust loopback_listener_trust(std::uint16_t port, std::optional<std::uint32_t> pid) {
  const auto rows = listening_sockets();
  if (!rows) return ListenerTrust::kUnknown;
  const auto verdict = table::judge_table_listeners(*rows, port, pid);
  if (verdict.trust != ListenerTrust::kTrusted) return verdict.trust;
  const auto own = token_user(GetCurrentProcess());
  if (!own) return ListenerTrust::kUnknown;
  ListenerTrust trust = ListenerTrust::kTrusted;
  for (const std::uint32_t owner : verdict.owners) {
    const ListenerTrust theirs = same_user(owner, *own);
    if (theirs == ListenerTrust::kNotTrusted) return theirs;
    if (theirs == ListenerTrust::kUnknown) trust = theirs;
  }
  return trust;
}

}  // namespace ruvo::platform
