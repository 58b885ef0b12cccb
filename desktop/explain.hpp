// The explain route: answers from the store when it can, and is the one
// place where a model call joins in.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"
#include "http/reply.hpp"
#include "protocol/fields.hpp"
#include "store/entry_rules.hpp"
#include "store/store.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace ruvo::desktop {

inline constexpr std::string_view kExplainModes[] = {"auto", "term", "passage"};
inline constexpr std::string_view kExplainLangs[] = {"zh", "en"};

struct ExplainRequest {
  std::string text;          // trimmed of white space, not blank
  std::string mode = std::string(protocol::kDefaultMode);  // one of kExplainModes
  std::string lang = std::string(protocol::kDefaultLang);  // one of kExplainLangs
  bool allow_cloud = false;
  std::string context;
};

// Reads an explain body: "text" (a string, not blank), and optionally "mode",
// "lang" (strings, defaulting to "auto" and "zh"), "allowCloud" (a boolean,
// default false) and "context" (a string). Returns the request, or an error
// whose message says in Chinese what is wrong; for an unknown mode or lang
// it lists the accepted values.
common::Result<ExplainRequest> parse_explain_request(const JsonValue& body);

// True when the text reads as a term rather than a sentence or a passage: a
// single line within the term length, without sentence punctuation (。？！，；
// or a question mark), so "RAG" is a term and "RAG 是什么？" is not.
bool reads_as_term(std::string_view text);

// True when the request is explained as a term rather than as a passage:
// mode "term", or mode "auto" with text that reads as a term.
bool explains_as_term(const ExplainRequest& request);

// True when a model's explanation of the request is kept in the store: it
// explains a term, and the text fits a stored term (one line, at most
// kMaxTermChars characters).
bool remembers_answer(const ExplainRequest& request);

// A language-model call for text the store cannot answer. It returns the
// whole reply: "ok" true with "source", "term", the fields and the "tokens"
// spent, or a failure. An empty function means that no model is configured.
using ExplainModel = std::function<Reply(const ExplainRequest&)>;

// Answers the request. Text in mode "term", or a single line within the
// term length in mode "auto", is looked up in the requested language; a hit
// is answered from the store: "ok" true, "source" "local", the entry,
// "tokens" 0. Anything else goes to the model when "allowCloud" is true and
// a model is configured; failing that, the reply is "ok" false, "kind"
// "miss", a "reason" ("cloud_not_allowed" or "no_model") and a Chinese
// "message" saying which, worded for a term when the text reads as one and
// for a passage otherwise. Mode "passage" never answers from the store.
// A model's successful answer to a request that remembers_answer is stored
// under the requested text and language with the source "model" (its
// "fields" that hold text; an answer with none is not stored), unless an
// entry appeared meanwhile (what a person saved is never replaced); the
// reply then also says "remembered" (true or false) and, when stored, the
// entry's "id". A store failure at that point, a damaged store's refusal
// included, keeps the answer and adds a "warning".
Reply explain(TermStore& store, const ExplainModel& model, const ExplainRequest& request);

}  // namespace ruvo::desktop
