// loopback_listener_trust against real sockets on this machine: the test's
// own listener, one that nothing holds any more, one that another process
// of ours does not hold, and (as root) one of another user.
#include "platform/listener_owner.hpp"

#include "platform/listener_table.hpp"
#include "platform/platform.hpp"
#include "support/stranger_listener.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>

extern char** environ;

namespace ruvo::platform {
namespace {

using enum ListenerTrust;

// A socket of this process listening on 127.0.0.1 at a free port.
class OwnListener {
 public:
  OwnListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~OwnListener() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  std::uint16_t port() const { return port_; }
  // The socket's inode, as the system's tables name it.
  std::uint64_t inode() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_ino) : 0;
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

std::uint32_t own_pid() { return static_cast<std::uint32_t>(::getpid()); }

// The id of a process that has ended and been reaped.
std::uint32_t ended_process() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return static_cast<std::uint32_t>(pid);
}

// A process of ours that runs and holds no socket of the test (every one is
// close-on-exec); killed when the scope ends.
class OtherProcess {
 public:
  OtherProcess() {
    char sleep[] = "sleep";
    char seconds[] = "600";
    char* argv[] = {sleep, seconds, nullptr};
    if (::posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
  }
  ~OtherProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }

 private:
  pid_t pid_ = -1;
};

TEST(LoopbackListenerTrust, OursIsTrustedWithOrWithoutItsPid) {
  OwnListener listener;
  EXPECT_EQ(loopback_listener_trust(listener.port(), own_pid()), kTrusted);
  EXPECT_EQ(loopback_listener_trust(listener.port(), std::nullopt), kTrusted);
}

TEST(LoopbackListenerTrust, APidThatDoesNotHoldTheListenerIsRefused) {
  OwnListener listener;
  OtherProcess other;
  ASSERT_GT(other.pid(), 0u);
  struct Case {
    const char* what;
    std::uint32_t pid;
  };
  const Case cases[] = {
      {"a process that has ended", ended_process()},
      {"a running process of ours without it", other.pid()},
      {"no process can have this id", 4294967295u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(loopback_listener_trust(listener.port(), c.pid), kNotTrusted);
  }
}

TEST(LoopbackListenerTrust, APortNothingListensOnIsRefused) {
  OwnListener listener;
  const std::uint16_t port = listener.port();
  listener.close();
  EXPECT_EQ(loopback_listener_trust(port, own_pid()), kNotTrusted);
  EXPECT_EQ(loopback_listener_trust(port, std::nullopt), kNotTrusted);
}

TEST(LoopbackListenerTrust, AnotherUsersListenerIsRefusedEvenWithItsOwnPid) {
  if (!test::StrangerListener::can_start()) GTEST_SKIP() << "only root can start a process of another user";
  test::StrangerListener stranger;
  ASSERT_NE(stranger.port(), 0) << "the listener of user nobody did not start";
  EXPECT_EQ(loopback_listener_trust(stranger.port(), std::nullopt), kNotTrusted);
  EXPECT_EQ(loopback_listener_trust(stranger.port(), static_cast<std::uint32_t>(stranger.pid())), kNotTrusted);
  EXPECT_EQ(loopback_listener_trust(stranger.port(), own_pid()), kNotTrusted);
}

// Where the kernel's socket diagnostics are missing, /proc/net/tcp is read
// instead: the kernel's own text must list our listener as the reader reads it.
TEST(LoopbackListenerTrust, TheKernelsProcNetTcpListsOurListener) {
  OwnListener listener;
  const auto text = read_file("/proc/net/tcp");
  if (!text) GTEST_SKIP() << "no /proc/net/tcp here";
  const auto listeners = table::loopback_listeners(*text);
  const auto ours = std::find_if(listeners.begin(), listeners.end(),
                                 [&](const table::ProcListener& l) { return l.port == listener.port(); });
  ASSERT_NE(ours, listeners.end()) << *text;
  EXPECT_EQ(ours->uid, ::geteuid());
  EXPECT_EQ(ours->inode, listener.inode());
  EXPECT_EQ(table::judge_proc_listeners(listeners, listener.port(), ::geteuid()).trust, kTrusted);
}

}  // namespace
}  // namespace ruvo::platform
