// The model the service explains with: a configuration as read
// (model::load_model_setup) turned into the calls that ask it.
#pragma once

#include "answers/model_in_use.hpp"
#include "model/model_config.hpp"

#include <string>

namespace ruvo::desktop::answers {

// What a configuration puts in use: with a model configured, the chat_model
// that asks it; the status health shows (model::model_status) with "file",
// the path of model.json.
ModelInUse model_in_use(model::ModelSetup setup, const std::string& file, const model::LogSink& log);

// The ExplainModel that asks the configured endpoint (model::ask), each call
// logged by outcome, time taken and tokens.
ExplainModel chat_model(model::ModelConfig config, model::LogSink log);

}  // namespace ruvo::desktop::answers
