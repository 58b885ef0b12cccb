// An article's markup parsed by gumbo (a real HTML5 parser), shared by markup_text.cpp (to plain
// text) and sanitize.cpp (to safe HTML): the parse, the dialects, a walk without recursion (deep
// nesting cannot exhaust the stack), and what counts as a cross-reference.
#pragma once

#include <gumbo.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::desktop::readers {

// The markup languages articles are written in. Pango markup (StarDict 'g') and XDXF (StarDict 'x')
// keep their line breaks as line breaks, unlike HTML. XDXF's <tr> (a transcription) would be a
// table row to an HTML parser, so it is renamed <x-tr> before parsing. Markup nested more than
// 2,000 levels deep is parsed as text (its tags shown, none kept): the parser's time grows with
// the square of the depth.
enum class Markup { kHtml, kPango, kXdxf };

class HtmlTree {
 public:
  HtmlTree(std::string_view markup, Markup dialect);
  ~HtmlTree();
  HtmlTree(const HtmlTree&) = delete;
  HtmlTree& operator=(const HtmlTree&) = delete;
  // The document node; nothing when gumbo could not parse (out of memory).
  const GumboNode* document() const;

 private:
  std::string source_;  // gumbo points into it
  GumboOutput* output_ = nullptr;
};

// The element's tag name in lower case ("b", "kref", "x-tr").
std::string tag_name(const GumboElement& element);

// The value of an attribute (names are lower case), or nothing.
std::optional<std::string_view> attribute(const GumboElement& element, const char* name);

// The text with its white space runs collapsed to single spaces and trimmed.
std::string collapse_spaces(std::string_view text);

// The text inside a node, its white space runs collapsed to single spaces and trimmed.
std::string text_content(const GumboNode* node);

// The headword a link element points at: <a href="bword://WORD">, <a href="entry://WORD"> (with
// %XX escapes decoded, a #fragment dropped), XDXF's <kref> (its k attribute or its text). Nothing
// for every other element or link.
std::optional<std::string> cross_reference(const GumboElement& element, const GumboNode* node);

// Calls `enter` for each node below `root` in document order; children are visited only when it
// returns true. `leave` follows an element's children (and its enter, when it returned false).
void walk_tree(const GumboNode* root, const std::function<bool(const GumboNode*)>& enter,
               const std::function<void(const GumboNode*)>& leave);

// Elements whose content is never text (scripts, styles, embedded objects and documents, SVG and
// MathML, templates): both converters drop them with all they hold.
bool is_dropped_whole(const std::string& tag);

}  // namespace ruvo::desktop::readers
