// Article markup (HTML, Pango markup, XDXF) turned into plain text for ruvo and agents, with the
// cross-references and transcriptions it holds; and the tidying every reader's text gets.
#pragma once

#include "readers/html_tree.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::readers {

struct MarkupText {
  std::string text;                   // as tidy_text leaves it
  std::vector<std::string> links;     // cross-referenced headwords (html_tree.hpp), each once, in order
  std::string phonetic;               // XDXF <tr> transcriptions, "; " between them
};

// Block elements and <br> become line breaks, table cells are separated by a space, entities are
// decoded, scripts, styles and comments dropped (html_tree.hpp's is_dropped_whole), XDXF's <k>
// (the headword again) dropped. HTML's white space collapses as a browser would (<pre> keeps it);
// Pango markup and XDXF keep their line breaks.
MarkupText markup_to_text(std::string_view markup, Markup dialect);

// Text as every reader hands it out: "\r\n" and "\r" as "\n", white space at each line's end
// removed, no blank line at either end and never two in a row.
std::string tidy_text(std::string_view text);

}  // namespace ruvo::desktop::readers
