// What the stored terms found in a text (store/terms_in_text.hpp) become in
// an explanation: the reply's "terms", the answer that needs no model, and
// the entries a model is given to keep to.
#pragma once

#include "common/json.hpp"
#include "model/model_answer.hpp"
#include "store/terms_in_text.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace ruvo::desktop::answers {

using common::JsonValue;

// The most characters of entries a model is given with one text, and of one
// entry among them.
inline constexpr std::size_t kMostGroundingChars = 4000;
inline constexpr std::size_t kMostCharsPerEntry = 600;

// The most characters of one term's line in an answer made from the store.
inline constexpr std::size_t kMostCharsPerLine = 300;

// [{"term" (as stored), "text" (as the text writes it), "start", "end"
// (code points of the text, end exclusive), "lang", "fields", "dictionary"
// ({"id","name"}, null for an entry that is not a dictionary's), "origin"
// (who wrote the entry: "user", "glossary", "model")}], in order.
JsonValue terms_json(const std::vector<store::TermInText>& terms);

// The answer to a text that holds stored terms when no model may or can be
// asked: "ok" true, "source" "local", "tokens" 0, "term" `title`, "lang",
// "definition" with one line per term, "名：定义" (a term written otherwise
// in the text is shown "写法（名）"), "plain" with one line per term that has
// a plain explanation, "fields" with both, and "terms". Each line is one line
// (an entry's line breaks become spaces) of at most kMostCharsPerLine
// characters.
JsonValue answer_from_terms(const std::vector<store::TermInText>& terms, const std::string& title,
                            const std::string& lang);

// The entries of the terms, in order, for a model to keep to: each its
// definition and plain explanation (or, without those, its other fields),
// cut at a sentence's end within kMostCharsPerEntry characters where one
// is, and no more entries than fit kMostGroundingChars together.
std::vector<model::GroundingEntry> grounding(const std::vector<store::TermInText>& terms);

// The same for one entry.
model::GroundingEntry grounding_entry(const store::TermEntry& entry);

// The text cut to at most `most` characters: at the last sentence's end
// (。！？.!?) in its second half, else at `most` - 1 with "…".
std::string cut_sensibly(std::string_view text, std::size_t most);

}  // namespace ruvo::desktop::answers
