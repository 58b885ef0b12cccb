// Making sure the local service answers, starting the desktop application
// headless when it does not.
#pragma once

#include "service/discovery.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::service {

inline constexpr std::string_view kDesktopCandidates[] = {"corvanta.exe", "Ruvo.exe", "ruvo-gui.exe"};
inline constexpr std::string_view kServiceArgument = "--service";
inline constexpr int kWaitAttempts = 40;
inline constexpr int kWaitPauseMs = 300;

// The ServiceInfo of a service that has just answered its health probe,
// starting the desktop application first when none does; nothing when no
// service could be brought up. Never prints.
std::optional<ServiceInfo> ensure_service();

// One GET /v1/health; healthy only when the reply is an object whose "ok" is
// the boolean true.
bool probe_health(const ServiceInfo& info);

// The first candidate beside the running program that is a regular file.
std::optional<std::string> find_desktop_executable();

// `ruvo service`: starts a headless instance and returns the exit code (0);
// failures end the process through fail_and_exit.
int run_service_command(const std::vector<std::string>& words);

}  // namespace ruvo::service
