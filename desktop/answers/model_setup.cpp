#include "answers/model_setup.hpp"

#include "model/model.hpp"

#include <utility>

namespace ruvo::desktop::answers {

ModelInUse model_in_use(model::ModelSetup setup, const std::string& file, const model::LogSink& log) {
  ModelInUse in_use;
  in_use.status = model::model_status(setup);
  if (!file.empty()) in_use.status["file"] = file;
  if (setup.config) {
    in_use.config = setup.config;
    in_use.ask = chat_model(*setup.config, log);
  }
  in_use.setup = std::move(setup);
  return in_use;
}

ExplainModel chat_model(model::ModelConfig config, model::LogSink log) {
  return [config = std::move(config), log = std::move(log)](const model::ModelRequest& request) {
    return model::ask(config, request, log);
  };
}

}  // namespace ruvo::desktop::answers
