// Making sure the local service answers, starting the program that runs it
// headless when it does not.
#pragma once

#include "client/wait.hpp"
#include "common/result.hpp"
#include "protocol/service_info.hpp"

#include <string>
#include <string_view>

namespace ruvo::client {

using protocol::ServiceInfo;

inline constexpr int kWaitAttempts = 40;
inline constexpr int kWaitPauseMs = 300;

// The messages of the two ways `ruvo service` can fail; "启动失败：" is
// followed by the system's own text.
inline constexpr std::string_view kNoServiceProgram = "找不到 Ruvo 主程序";
inline constexpr std::string_view kStartFailedPrefix = "启动失败：";

// The ServiceInfo of a service that has just answered its health probe,
// starting the service program first when none does; an error when no
// service could be brought up. Never prints. `on_wait` hears of the probes
// (kService, then kStartedService after a start) and of the pauses between
// them; the attempts, pauses and time-outs are the same with it or without.
common::Result<ServiceInfo> ensure_service(const OnWait& on_wait = {});

// The same with the program to start given rather than looked for beside the
// running one (ruvo-gui.exe --open starts itself). It is started exactly as
// ruvo starts the service program; a start that fails gives the system's
// own error with the kind kNotStarted.
common::Result<ServiceInfo> ensure_service(const std::string& program, const OnWait& on_wait = {});

// One GET /v1/health; healthy only when the reply is an object whose "ok" is
// the boolean true. `still_waiting` as for service_request.
bool probe_health(const ServiceInfo& info, const std::function<void()>& still_waiting = {});

// The first candidate beside the running program that is a regular file and
// not the running program itself.
common::Result<std::string> find_service_program();

// Starts the service program headless, without waiting for it (`ruvo
// service`). The error is kNoServiceProgram, or kStartFailedPrefix and the
// system's text.
common::Result<void> start_service();

}  // namespace ruvo::client
