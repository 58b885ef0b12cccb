// The model explanations use now. model.json may change while the service
// runs (by hand, or through PUT /v1/model): the configuration is then read
// again and replaces the one in use whole; a call under way finishes with the
// configuration it started with.
#pragma once

#include "common/json.hpp"
#include "model/model_answer.hpp"
#include "model/model_config.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace ruvo::desktop::answers {

using common::JsonValue;

// A language-model call for text the store cannot answer: the answer, or an
// error of the kind kModel or kModelTimeout. An empty function means that no
// model is configured.
using ExplainModel = std::function<common::Result<model::ModelAnswer>(const model::ModelRequest&)>;

// One configuration as read.
struct ModelInUse {
  ExplainModel ask;                          // empty: no model configured
  std::optional<model::ModelConfig> config;  // what `ask` asks, when read from a configuration
  model::ModelSetup setup;                   // what was read, problems included
  // What health says of the model (model::model_status), with "file": the
  // path of model.json.
  JsonValue status = JsonValue{{"configured", false}};
};

class Models {
 public:
  // No folder: no model.json; nothing is configured until use().
  Models() = default;
  // model.json in `folder` (read by reload(), not yet here); calls and
  // readings are logged to `log`. Sets the HTTP client library up for the
  // process (model::init_model_http), so construct it before any thread.
  Models(std::string folder, model::LogSink log);

  std::shared_ptr<const ModelInUse> current() const;

  // The folder, and the path of its model.json ("" without a folder).
  const std::string& folder() const { return folder_; }
  std::string file() const;

  // Reads model.json and the environment again (model::load_model_setup)
  // and puts what they say in use, logged.
  void reload();

  // Reloads when model.json's size, modification time or inode differ from
  // what the last reading saw (it appeared, went or was replaced). For the
  // service's upkeep, a few times a second.
  void reload_if_changed();

  // Puts a model in use as it is (tests).
  void use(ExplainModel ask);

  // Where model calls and readings are logged.
  const model::LogSink& log() const { return log_; }

 private:
  struct Stamp {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    std::uint64_t inode = 0;
    bool operator==(const Stamp&) const = default;
  };
  Stamp stamp() const;

  std::string folder_;
  model::LogSink log_;
  mutable std::mutex mutex_;
  std::shared_ptr<const ModelInUse> current_ = std::make_shared<ModelInUse>();
  std::optional<Stamp> read_stamp_;  // of model.json at the last reading
};

}  // namespace ruvo::desktop::answers
