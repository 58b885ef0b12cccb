// What every answer needs: the store, the model (if any) and what the
// service says of itself. The answers are what the HTTP handlers and the
// commands share; each is an operation that returns a Result (a reply body
// on success), never an HTTP reply.
#pragma once

#include "answers/model_in_use.hpp"
#include "common/json.hpp"
#include "common/result.hpp"
#include "model/model_answer.hpp"
#include "model/model_config.hpp"
#include "store/name_index.hpp"
#include "store/store.hpp"

#include <functional>
#include <map>
#include <string>

namespace ruvo::desktop::answers {

using common::JsonValue;
using common::Result;
// Where a layer logs: one line at a time (service/ hands it the service's log).
using model::LogSink;

// A request's query string, by parameter name (the last one of a name given
// twice).
using QueryParameters = std::map<std::string, std::string, std::less<>>;

// It lives as long as the service, and so do the parts it names.
struct Context {
  store::TermStore& store;
  std::string version;      // the program's version, reported by health
  Models& models;           // the model in use, and where its configuration is
  store::NameIndex& names;  // the stored names in memory, over `store`
};

}  // namespace ruvo::desktop::answers
