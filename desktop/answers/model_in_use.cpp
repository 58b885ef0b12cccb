// The model in use, and reading its configuration again.
#include "answers/model_in_use.hpp"

#include "answers/model_setup.hpp"
#include "model/model_http.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"

#include <utility>

namespace ruvo::desktop::answers {

Models::Models(std::string folder, model::LogSink log) : folder_(std::move(folder)), log_(std::move(log)) {
  // Whether or not a model is configured yet: one may be set up at any time.
  if (auto ready = model::init_model_http(); !ready && log_) {
    log_("cannot set up the HTTP client library: " + ready.error().text() + "; model calls will fail");
  }
}

std::shared_ptr<const ModelInUse> Models::current() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return current_;
}

std::string Models::file() const {
  return folder_.empty() ? std::string() : platform::join_path(folder_, model::kModelFileName);
}

Models::Stamp Models::stamp() const {
  auto found = platform::file_stamp(file());
  if (!found) return Stamp{};
  return Stamp{true, found->size, found->modified_ns, found->inode};
}

void Models::reload() {
  if (folder_.empty()) return;
  // The stamp first: a change made while the file is read shows at the next look.
  const Stamp seen = stamp();
  auto in_use = std::make_shared<ModelInUse>(model_in_use(model::load_model_setup(folder_, log_), file(), log_));
  std::lock_guard<std::mutex> guard(mutex_);
  current_ = std::move(in_use);
  read_stamp_ = seen;
}

void Models::reload_if_changed() {
  if (folder_.empty()) return;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (read_stamp_ && *read_stamp_ == stamp()) return;
  }
  if (log_) log_("model.json changed; reading the model's configuration again");
  reload();
}

void Models::use(ExplainModel ask) {
  auto in_use = std::make_shared<ModelInUse>();
  in_use->ask = std::move(ask);
  in_use->status = JsonValue{{"configured", static_cast<bool>(in_use->ask)}};
  if (!folder_.empty()) in_use->status["file"] = file();
  std::lock_guard<std::mutex> guard(mutex_);
  current_ = std::move(in_use);
}

}  // namespace ruvo::desktop::answers
