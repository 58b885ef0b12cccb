#include "commands/serve.hpp"

#include "client/discovery.hpp"
#include "service/service.hpp"

namespace ruvo::desktop::commands {

int run_service() { return service::run_service(client::data_folder()); }

}  // namespace ruvo::desktop::commands
