// The starter glossary: common terms of AI and software work that a new,
// empty store is filled with, so a first lookup on a fresh machine can hit.
#pragma once

#include "common/result.hpp"
#include "store/store.hpp"

#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

// The text of glossary.json as compiled into the program.
std::string_view embedded_glossary();

// Reads a glossary: an object with "lang", "categoryId" and "terms", an
// array of objects that each hold "term" and the non-blank strings
// "definition", "plain" and "example" (further string members become fields
// too). Returns the entries in order, or an error naming the first fault; a
// term given twice (by its key) is a fault.
common::Result<std::vector<TermDraft>> parse_glossary(std::string_view json_text);

}  // namespace ruvo::desktop::store
