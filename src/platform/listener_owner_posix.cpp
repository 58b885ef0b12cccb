// loopback_listener_trust on Linux: the kernel lists every listening socket
// with its user and inode, and /proc/<pid>/fd names every socket a process
// holds. A system without either cannot tell.
#include "platform/listener_owner.hpp"

#include "platform/listener_table.hpp"
#include "platform/platform.hpp"

#include <dirent.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace ruvo::platform {
namespace {

using table::ProcListener;
using Listeners = std::vector<ProcListener>;

constexpr int kDiagWaitMs = 1000;

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Appends the listening TCP sockets of one family from the kernel's socket
// diagnostics, or returns false when it does not give them. Asked for the
// listening state alone, the kernel walks only its table of listeners, where
// /proc/net/tcp walks every connection bucket: on a machine with much memory
// that takes it tens of milliseconds, this a fraction of one.
bool diag_listeners(int family, Listeners& listeners) {
  const Fd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (fd.get() < 0) return false;
  const timeval wait{kDiagWaitMs / 1000, (kDiagWaitMs % 1000) * 1000};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

  struct {
    nlmsghdr head;
    inet_diag_req_v2 body;
  } request{};
  request.head.nlmsg_len = sizeof request;
  request.head.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.head.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.body.sdiag_family = static_cast<std::uint8_t>(family);
  request.body.sdiag_protocol = IPPROTO_TCP;
  request.body.idiag_states = 1u << TCP_LISTEN;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd.get(), &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof request)) {
    return false;
  }

  const std::size_t address_bytes = family == AF_INET ? 4 : 16;
  alignas(nlmsghdr) char buffer[16384];
  for (;;) {
    const ssize_t received = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) return false;
    int left = static_cast<int>(received);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      if (message->nlmsg_type == NLMSG_DONE) return true;
      if (message->nlmsg_type == NLMSG_ERROR) return false;
      if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY || message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
        continue;
      }
      const auto* socket = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
      std::vector<std::uint8_t> address(address_bytes);
      std::memcpy(address.data(), socket->id.idiag_src, address_bytes);
      if (!table::reaches_loopback(address)) continue;
      listeners.push_back(ProcListener{ntohs(socket->id.idiag_sport), socket->idiag_uid, socket->idiag_inode});
    }
  }
}

// The same from /proc/net/tcp and /proc/net/tcp6, for a kernel without
// socket diagnostics.
bool proc_listeners(Listeners& listeners) {
  // IPv4 is where a connection to 127.0.0.1 lands; a system without IPv6
  // has no tcp6.
  const auto v4 = read_file("/proc/net/tcp");
  if (!v4) return false;
  listeners = table::loopback_listeners(*v4);
  if (const auto v6 = read_file("/proc/net/tcp6")) {
    const auto more = table::loopback_listeners(*v6);
    listeners.insert(listeners.end(), more.begin(), more.end());
  }
  return true;
}

std::optional<Listeners> loopback_listeners() {
  Listeners listeners;
  if (diag_listeners(AF_INET, listeners)) {
    // A kernel without IPv6 has no IPv6 listeners.
    Listeners v6;
    if (diag_listeners(AF_INET6, v6)) listeners.insert(listeners.end(), v6.begin(), v6.end());
    return listeners;
  }
  listeners.clear();
  if (proc_listeners(listeners)) return listeners;
  return std::nullopt;
}

enum class HeldBy { kYes, kNo, kCannotTell };

// Whether process `pid` holds every one of the sockets, looked for among its
// descriptors until all are found (the listening socket is an early one).
HeldBy held_by(std::uint32_t pid, std::vector<std::uint64_t> inodes) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    // No such process: the service that wrote the file is gone. A process we
    // may not look into (one that made itself undumpable, say) proves
    // nothing either way.
    return errno == ENOENT || errno == ESRCH ? HeldBy::kNo : HeldBy::kCannotTell;
  }
  const int dir_fd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    char link[64];
    const ssize_t length = ::readlinkat(dir_fd, entry->d_name, link, sizeof link);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link) continue;  // closed meanwhile, or no socket
    const auto inode = table::socket_inode(std::string_view(link, static_cast<std::size_t>(length)));
    if (!inode) continue;
    std::erase(inodes, *inode);
    if (inodes.empty()) break;
  }
  ::closedir(dir);
  return inodes.empty() ? HeldBy::kYes : HeldBy::kNo;
}

}  // namespace

ListenerTrust loopback_listener_trust(std::uint16_t port, std::optional<std::uint32_t> pid) {
  const auto listeners = loopback_listeners();
  if (!listeners) return ListenerTrust::kUnknown;
  const auto verdict = table::judge_proc_listeners(*listeners, port, static_cast<std::uint32_t>(::geteuid()));
  if (verdict.trust != ListenerTrust::kTrusted || !pid) return verdict.trust;
  switch (held_by(*pid, verdict.inodes)) {
    case HeldBy::kYes: return ListenerTrust::kTrusted;
    case HeldBy::kNo: return ListenerTrust::kNotTrusted;
    case HeldBy::kCannotTell: break;
  }
  return ListenerTrust::kUnknown;
}

}  // namespace ruvo::platform
