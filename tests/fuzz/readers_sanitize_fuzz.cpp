// The sanitizer and markup-to-text on any markup, in each dialect: never a crash, and what the
// sanitizer writes, parsed again, holds only whitelisted elements whose only attribute is an <a>'s
// data-see.
#include "common/utf8.hpp"
#include "readers/markup_text.hpp"
#include "readers/sanitize.hpp"

#include <cstdint>
#include <set>
#include <string>

using namespace ruvo::desktop::readers;

namespace {

void check_harmless(const std::string& html) {
  static const std::set<std::string> kAllowed = {
      "html", "head", "body", "b", "i", "u", "em", "strong", "sub", "sup", "small", "big", "br", "p", "div", "span",
      "ul", "ol", "li", "dl", "dt", "dd", "table", "thead", "tbody", "tr", "td", "th", "h1", "h2", "h3", "h4", "h5",
      "h6", "blockquote", "pre", "code", "hr", "a"};
  HtmlTree tree(html, Markup::kHtml);
  walk_tree(
      tree.document(),
      [&](const GumboNode* node) {
        if (node->type == GUMBO_NODE_COMMENT) __builtin_trap();
        if (node->type != GUMBO_NODE_ELEMENT) return false;
        const std::string tag = tag_name(node->v.element);
        if (kAllowed.count(tag) == 0) __builtin_trap();
        const GumboVector& attributes = node->v.element.attributes;
        for (unsigned i = 0; i < attributes.length; ++i) {
          const auto* attribute = static_cast<const GumboAttribute*>(attributes.data[i]);
          if (tag != "a" || std::string(attribute->name) != "data-see") __builtin_trap();
        }
        return true;
      },
      [](const GumboNode*) {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The readers hand the parser valid UTF-8 only.
  const std::string markup = ruvo::common::to_valid_utf8(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  const Markup dialect = data[0] % 3 == 0 ? Markup::kHtml : data[0] % 3 == 1 ? Markup::kPango : Markup::kXdxf;
  const std::string html = sanitize_html(markup, dialect);
  check_harmless(html);
  const MarkupText text = markup_to_text(markup, dialect);
  if (!ruvo::common::is_valid_utf8(text.text) || !ruvo::common::is_valid_utf8(html)) __builtin_trap();
  if (text.text.find("\n\n\n") != std::string::npos) __builtin_trap();
  return 0;
}
