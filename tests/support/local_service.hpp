// The real local service, ruvo-gui.exe, in a temporary application-data
// folder: started by the test and stopped by its process id, or started by
// ruvo beside which it lies, as on a person's machine.
#pragma once

#include "protocol/service_info.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ruvo::test {

// Generous bounds for what normally takes milliseconds; they only keep a
// broken build from hanging the suite.
inline constexpr int kStartLimitMs = 60000;
inline constexpr int kExitLimitMs = 30000;

// The built ruvo-gui.exe: $RUVO_TEST_GUI, else the one this build made; empty
// when the build has none.
std::string gui_program();

// Polls until the discovery file parses and, when `not_token` is given,
// carries another token; nothing after `limit_ms`.
std::optional<protocol::ServiceInfo> wait_for_discovery(const std::string& path, int limit_ms,
                                                        const std::string& not_token = {});

// `ruvo-gui.exe --service` started by the test, with APPDATA set to the
// folder given.
class LocalService {
 public:
  explicit LocalService(std::string app_data);
  // Kills a service still running, so none outlives the test.
  ~LocalService();
  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;

  // Starts it and waits until it has written a discovery file with a token
  // other than the last one seen and answers health. False, with the reason
  // in problem(), otherwise.
  bool start();
  // SIGKILL, then reaps it: nothing of it runs afterwards.
  void kill_now();
  // SIGTERM and waits for its exit code (-1 when it did not end normally).
  int stop();

  bool running() const { return child_ != nullptr; }
  int pid() const { return child_ ? child_->pid() : -1; }
  const protocol::ServiceInfo& info() const { return info_; }
  const std::string& problem() const { return problem_; }

  std::string folder() const;          // <app data>/com.corvanta.desktop
  std::string store_path() const;      // the SQLite file
  std::string discovery_path() const;  // explain.json
  // The service's peak resident memory (VmHWM) in KiB, or -1.
  long peak_memory_kib() const;

 private:
  std::string app_data_;
  std::unique_ptr<Child> child_;
  protocol::ServiceInfo info_;
  std::string problem_;
};

// ruvo with the real local service copied beside it and an application-data
// folder of its own: the first command that needs the service starts it.
// Every process of the copied service program is killed when this ends.
class RuvoWithService {
 public:
  RuvoWithService();
  ~RuvoWithService();

  // False (with the reason) when there is no service program to copy, or
  // ruvo runs behind a launcher (Wine), which cannot start a Linux service.
  bool usable(std::string* why) const;
  RunResult ruvo(std::vector<std::string> words, std::optional<std::string> input = std::nullopt) const;

  const AppDataDir& appdata() const { return appdata_; }
  const ProgramDir& programs() const { return *programs_; }
  // The copied ruvo-gui.exe, links resolved, as /proc shows its processes.
  const std::string& service_program() const { return service_program_; }
  std::vector<int> service_pids() const { return processes_running(service_program_); }

 private:
  AppDataDir appdata_;
  std::unique_ptr<ProgramDir> programs_;
  std::string service_program_;
};

// Stops the ruvo-gui.exe that ruvo started for the application's folder
// `data_folder` (…/com.corvanta.desktop): its process id is the one its log
// gives, checked to be that program, sent SIGTERM and waited for. True when
// it is gone (or never started).
bool stop_logged_service(const std::string& data_folder, const std::string& program = gui_program());

// The process id the service's log in `data_folder` names, or nothing.
std::optional<int> logged_service_pid(const std::string& data_folder);

}  // namespace ruvo::test
