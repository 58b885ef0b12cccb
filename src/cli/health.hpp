// `ruvo health` and `ruvo service`: the service's state, and starting it by
// hand.
#pragma once

#include "cli/outcome.hpp"
#include "client/client.hpp"

#include <string_view>

namespace ruvo::cli {

inline constexpr std::string_view kHealthDownMessage = "Ruvo 服务没起来（找不到可执行文件，或启动失败）";
inline constexpr std::string_view kServiceStartedLine = "已启动 Ruvo 无界面服务\n";

// Makes sure a service answers and prints its health reply as pretty JSON.
// The words are ignored.
Outcome run_health(const Words& words, client::Client& client);

// Starts a headless service without waiting for it. The words are ignored.
Outcome run_service(const Words& words, client::Client& client);

}  // namespace ruvo::cli
