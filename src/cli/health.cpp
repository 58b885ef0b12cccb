#include "cli/health.hpp"

namespace ruvo::cli {

Outcome run_health(const Words& /*words*/, client::Client& client) {
  const auto info = client.ensure_service();
  if (!info) return fail_and_exit(kHealthDownMessage);
  const auto reply = client.health(*info);
  if (!reply) return fail_and_exit(reply.error().text());
  return print_pretty_json(*reply);
}

Outcome run_service(const Words& /*words*/, client::Client& client) {
  if (auto started = client.start_service(); !started) return fail_and_exit(started.error().text());
  return print_text(std::string(kServiceStartedLine));
}

}  // namespace ruvo::cli
