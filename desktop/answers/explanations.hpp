// Explaining a text: from the store when it can, and the one place where a
// model call joins in.
#pragma once

#include "answers/context.hpp"
#include "protocol/fields.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::desktop::answers {

inline constexpr std::string_view kExplainModes[] = {"auto", "term", "passage"};

// The most characters of a text that reads as a term (reads_as_term), and
// of a text a miss or a passage's title quotes. It is the wording's own
// bound, apart from how long a stored name may be (store::kMaxTermChars):
// it decides what a miss says and how a model's answer is titled.
inline constexpr std::size_t kTermLikeChars = 64;

struct ExplainRequest {
  std::string text;                                        // trimmed of white space, not blank
  std::string mode = std::string(protocol::kDefaultMode);  // one of kExplainModes
  std::string lang = std::string(protocol::kDefaultLang);  // one of store::kTermLangs
  bool allow_cloud = false;
  std::string context;
};

// Reads an explain body: "text" (a string, not blank), and optionally "mode",
// "lang" (strings, defaulting to "auto" and "zh"), "allowCloud" (a boolean,
// default false) and "context" (a string). Returns the request, or an error
// of the kind kBadInput whose message says in Chinese what is wrong; for an
// unknown mode or lang it lists the accepted values.
common::Result<ExplainRequest> parse_explain_request(const JsonValue& body);

// True when the text reads as a term rather than a sentence or a passage: a
// single line of at most kTermLikeChars characters, without sentence
// punctuation (。？！，； or a question mark), so "RAG" is a term and "RAG
// 是什么？" is not.
bool reads_as_term(std::string_view text);

// True when the request is explained as a term rather than as a passage:
// mode "term", or mode "auto" with text that reads as a term.
bool explains_as_term(const ExplainRequest& request);

// True when a model's explanation of the request is kept in the store: it
// explains a term, and the text fits a stored term (one line, at most
// store::kMaxTermChars characters).
bool remembers_answer(const ExplainRequest& request);

// What the model is asked for the request: its text, language and context,
// and whether it is explained as a term.
model::ModelRequest model_request(const ExplainRequest& request);

// The field of a model's remembered answer that says which entry, written in
// another language, it was based on: {"id","term","lang","dictionary"} as
// compact JSON text.
inline constexpr std::string_view kBasedOnField = "basedOn";

// What an entry was based on (its kBasedOnField read), or nothing.
std::optional<JsonValue> based_on_of(const store::TermEntry& entry);
// {"id","term","lang","dictionary"} of an entry (dictionary null while the
// entry is not a dictionary's).
JsonValue based_on_json(const store::TermEntry& entry);

// Answers the request.
//
// Text in mode "term", or a single line within the term length in mode
// "auto", is looked up (store::find_any, the language asked first). A hit in
// that language is answered from the store: "ok" true, "source" "local", the
// entry (put_entry), "tokens" 0, and "basedOn" for a model's answer that was
// based on an entry in another language. A hit only in another language is
// answered so too when no model may be asked; when one may, the model
// explains the term in the language asked given that entry
// (ModelRequest::entries), and the answer says "basedOn" and is remembered
// with it, so the next request is a local hit (if the model fails, the entry
// answers as it is, with a "warning").
//
// Anything else but mode "term" is read for the stored terms in it
// (store::terms_in_text). When "allowCloud" is true and a model is
// configured, the model is asked, given those entries to keep to
// (grounding): "ok" true, "source" "model", "term" (the requested text for a
// term; for a passage the model's short subject, else the passage's first
// characters), "lang", those of "definition", "plain" and "example" the model
// gave, "fields" with them, "tokens", "model", and "terms" when there are
// any; a model's failure is its error (the kind kModel or kModelTimeout).
// Otherwise, with stored terms in the text, the answer is made from them
// (answer_from_terms: "source" "local", "tokens" 0, a line per term);
// without any, it is "ok" false, "kind" "miss", a "reason"
// ("cloud_not_allowed" or "no_model") and a Chinese "message" saying which
// (with no model, where model.json is, or the interface's 状态 page), worded
// for a term when the text reads as one and for a passage otherwise; a
// term's miss adds answer_miss's part, and a text that reads as a term is
// counted among the misses whenever it was not found itself.
//
// A model's answer to a request that remembers_answer is stored under the
// requested text and language with the source "model" (its "fields" that
// hold text; an answer with none is not stored), unless an entry appeared
// meanwhile (what a person saved is never replaced); the answer then also
// says "remembered" (true or false) and, when stored, the entry's "id". A
// store failure at that point, a damaged store's refusal included, keeps the
// answer and adds a "warning".
Result<JsonValue> explain(Context& ctx, const ExplainModel& ask, const ExplainRequest& request);

// POST /v1/explain: the body read by parse_explain_request (its error is of
// the kind kBadInput), then explained with the context's store and the
// model in use.
Result<JsonValue> explain(Context& ctx, const JsonValue& body);

}  // namespace ruvo::desktop::answers
