// --stop on the service of the application-data folder.
#include "commands/stop.hpp"

#include "client/discovery.hpp"
#include "platform/platform.hpp"
#include "platform/stopping.hpp"
#include "protocol/service_info.hpp"
#include "service/service.hpp"

#include <chrono>
#include <thread>

namespace ruvo::desktop::commands {

namespace {

// A service stops within a second or two (its workers finish what they
// hold, an explanation waiting for a model included).
constexpr std::chrono::seconds kStopLimit{30};

int fail(const std::string& message) {
  platform::write_stderr("ruvo-gui.exe --stop：" + message + "\n");
  return 1;
}

}  // namespace

int run_stop() {
  auto folder = client::data_folder();
  if (!folder) return fail("找不到应用数据目录（APPDATA、XDG_CONFIG_HOME 和 HOME 都没有设置）");
  const std::string lock_path = platform::join_path(*folder, service::kLockFileName);
  auto owner = platform::instance_lock_owner(lock_path);
  if (!owner) return fail("不知道谁持有锁文件 " + lock_path + "：" + owner.error().text());
  if (!*owner) {
    platform::write_stdout("没有在运行的服务\n");
    return 0;
  }
  const std::uint32_t pid = **owner;
  // The lock decides which process is the folder's service; a discovery
  // file naming another one is stale or not ours, and is only reported.
  auto text = platform::read_file(platform::join_path(*folder, protocol::kDiscoveryFileName));
  auto info = text ? protocol::parse_service_info(*text) : common::Result<protocol::ServiceInfo>(text.error());
  if (info && info->pid && *info->pid != pid) {
    platform::write_stderr("ruvo-gui.exe --stop：explain.json 写的进程是 " + std::to_string(*info->pid) +
                           "，持有锁的是 " + std::to_string(pid) + "，停的是后者\n");
  }
  if (auto asked = platform::ask_to_stop(pid); !asked) {
    return fail("无法让进程 " + std::to_string(pid) + " 停下：" + asked.error().text());
  }
  // Done once the lock is let go: the service removes its discovery file
  // first, and its process may stay as a zombie of its parent for a while.
  const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
  for (;;) {
    auto now_owner = platform::instance_lock_owner(lock_path);
    if (!platform::process_runs(pid) || (now_owner && *now_owner != pid)) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      return fail("进程 " + std::to_string(pid) + " 在 " + std::to_string(kStopLimit.count()) + " 秒内没有停下");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  platform::write_stdout("服务已停止（进程 " + std::to_string(pid) + "）\n");
  return 0;
}

}  // namespace ruvo::desktop::commands
