#include "answers/model_setup.hpp"

#include "model/model.hpp"
#include "model/model_http.hpp"

#include <utility>

namespace ruvo::desktop::answers {

ModelChoice set_up_model(const std::string& folder, const model::LogSink& log) {
  model::ModelSetup setup = model::load_model_setup(folder, log);
  ModelChoice choice;
  choice.status = model::model_status(setup);
  if (!setup.config) return choice;
  if (auto ready = model::init_model_http(); !ready) {
    log("cannot set up the HTTP client library: " + ready.error().text() + "; model calls will fail");
  }
  choice.model = chat_model(*setup.config, log);
  return choice;
}

ExplainModel chat_model(model::ModelConfig config, model::LogSink log) {
  return [config = std::move(config), log = std::move(log)](const model::ModelRequest& request) {
    return model::ask(config, request, log);
  };
}

}  // namespace ruvo::desktop::answers
