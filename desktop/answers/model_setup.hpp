// The model the service explains with: model.json and the environment read
// at start, the HTTP client set up, and the calls that ask it.
#pragma once

#include "answers/context.hpp"
#include "model/model_config.hpp"

#include <string>

namespace ruvo::desktop::answers {

// What start-up made of the model's configuration.
struct ModelChoice {
  ExplainModel model;                                   // empty: none configured
  JsonValue status = JsonValue{{"configured", false}};  // what health says of it (model::model_status)
};

// Reads model.json in `folder` and the environment (model::load_model_setup),
// logging what it found, never the key. With a model configured it sets up
// the HTTP client library for the process, before any thread asks a model (a
// failure is logged, and the calls then fail saying so), and gives the
// chat_model that asks it.
ModelChoice set_up_model(const std::string& folder, const model::LogSink& log);

// The ExplainModel that asks the configured endpoint (model::ask), each call
// logged by outcome, time taken and tokens.
ExplainModel chat_model(model::ModelConfig config, model::LogSink log);

}  // namespace ruvo::desktop::answers
