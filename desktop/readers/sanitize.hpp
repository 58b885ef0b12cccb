// Article markup made safe to show in the interface: parsed by gumbo and written again from a
// whitelist, so that nothing from a dictionary can ever run or load anything.
#pragma once

#include "readers/html_tree.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::readers {

// The markup rewritten with only these elements: b i u em strong sub sup small big br p div span ul
// ol li dl dt dd table thead tbody tr td th h1-h6 blockquote pre code hr, <font> written as <span>,
// and cross-reference links (html_tree.hpp's cross_reference) as <a data-see="WORD">…</a>. No other
// attribute survives: no href, src, style, class, id or on* handler. Scripts, styles, embedded
// objects and documents, SVG, MathML, forms' controls and the like go with their content
// (is_dropped_whole); images, <meta>, <link> and <base> go; any other element is unwrapped, its
// text kept. Every text and attribute value is escaped. In Pango markup and XDXF a line feed
// becomes <br>. The result is well nested: every element opened is closed.
std::string sanitize_html(std::string_view markup, Markup dialect);

// &, <, >, " and ' escaped as HTML character references.
std::string escape_html(std::string_view text);

// A piece of plain text: `text` itself, or a cross-reference to `target` shown as `text`.
struct TextPiece {
  std::string text;
  std::string target;  // "" for plain text
};

// Plain text as HTML: escaped, line feeds as <br>, cross-references as <a data-see="…">.
std::string plain_text_html(const std::vector<TextPiece>& pieces);

}  // namespace ruvo::desktop::readers
