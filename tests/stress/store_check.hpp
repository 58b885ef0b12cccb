// The local service (ruvo-gui.exe) as a process the stress test owns:
// started with its application-data folder, killed outright or stopped by its
// process id, its store inspected through SQLite, and raw HTTP exchanges with
// it.
#pragma once

#include "protocol/discovery.hpp"

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::stress {

// Paths of the programs under test, from the build.
std::string ruvo_path();
std::string gui_path();

// Makes ruvo_path() the ruvo that the fixtures' ProgramDir copies, so tests
// run a ruvo with no service program beside it: one that never starts a
// service of its own behind the test's back.
void use_built_programs();

class StandIn {
 public:
  explicit StandIn(std::string app_data);
  // Kills a service still running, so none outlives the test.
  ~StandIn();
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  // Starts `ruvo-gui.exe --service` and waits (generously) until it has
  // written a discovery file with a token other than the last one seen and
  // answers health. False, with the reason in `problem()`, otherwise.
  bool start();
  // SIGKILL, then reaps it: nothing of it runs afterwards.
  void kill_now();
  // SIGTERM and waits for its exit code (-1 when it did not end normally).
  int stop();

  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const protocol::ServiceInfo& info() const { return info_; }
  const std::string& problem() const { return problem_; }

  std::string folder() const;           // <app data>/com.corvanta.desktop
  std::string store_path() const;       // the SQLite file
  std::string discovery_path() const;   // explain.json

  // The service's peak resident memory (VmHWM) in KiB, or -1.
  long peak_memory_kib() const;

 private:
  std::string app_data_;
  pid_t pid_ = -1;
  protocol::ServiceInfo info_;
  std::string problem_;
};

// One HTTP exchange with 127.0.0.1:port: writes the bytes and reads until
// the service closes the connection. Nothing when the exchange failed.
std::optional<std::string> http_exchange(std::uint16_t port, std::string_view request);

// A request with the given headers (Host and "Connection: close" added) and
// the body; a Content-Length is added unless the headers name one or
// Transfer-Encoding.
std::string request_text(std::string_view method, std::string_view path,
                         const std::map<std::string, std::string>& headers, std::string_view body);

struct HttpReply {
  int status = -1;
  std::string body;
};
HttpReply split_reply(std::string_view bytes);

// The store seen from outside the service.
struct StoreCheck {
  std::string integrity;                      // PRAGMA integrity_check: "ok" when sound
  std::map<std::string, std::string> fields;  // term -> stored fields (JSON text)
  std::string error;                          // when the store could not be read
};
// Opens the SQLite file (recovering its write-ahead log like any reader
// would) and reads every entry.
StoreCheck inspect_store(const std::string& path);

}  // namespace ruvo::stress
