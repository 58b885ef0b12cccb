// --service: the service for the application-data folder that ruvo's client
// finds, so that both programs agree on where it is.
#pragma once

namespace ruvo::desktop::commands {

// Runs the service (service::run_service) for client::data_folder(); its
// exit code.
int run_service();

}  // namespace ruvo::desktop::commands
