// The whitelist sanitizer over gumbo's tree.
#include "readers/sanitize.hpp"

#include <set>

namespace ruvo::desktop::readers {
namespace {

bool is_allowed(const std::string& tag) {
  static const std::set<std::string> kAllowed = {
      "b",  "i",  "u",  "em", "strong", "sub",   "sup",   "small", "big", "br", "p",  "div",        "span",
      "ul", "ol", "li", "dl", "dt",     "dd",    "table", "thead", "tbody", "tr", "td", "th",       "h1",
      "h2", "h3", "h4", "h5", "h6",     "blockquote", "pre", "code", "hr"};
  return kAllowed.count(tag) != 0;
}

bool is_void(const std::string& tag) { return tag == "br" || tag == "hr"; }

void append_text(std::string& out, std::string_view text, bool lines_as_breaks) {
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\n':
        if (lines_as_breaks) {
          out += "<br>";
          break;
        }
        out += c;
        break;
      case '\r': break;
      default: out += c;
    }
  }
}

}  // namespace

std::string escape_html(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_text(out, text, false);
  return out;
}

std::string plain_text_html(const std::vector<TextPiece>& pieces) {
  std::string out;
  for (const auto& piece : pieces) {
    if (piece.target.empty()) {
      append_text(out, piece.text, true);
    } else {
      out += "<a data-see=\"";
      append_text(out, piece.target, false);
      out += "\">";
      append_text(out, piece.text, true);
      out += "</a>";
    }
  }
  return out;
}

std::string sanitize_html(std::string_view markup, Markup dialect) {
  HtmlTree tree(markup, dialect);
  const bool lines_as_breaks = dialect != Markup::kHtml;
  std::string out;
  // What each open element wrote, so that leaving it writes the matching end tag (or nothing).
  std::vector<std::string> closers;
  walk_tree(
      tree.document(),
      [&](const GumboNode* node) {
        switch (node->type) {
          case GUMBO_NODE_TEXT:
          case GUMBO_NODE_WHITESPACE:
          case GUMBO_NODE_CDATA: append_text(out, node->v.text.text, lines_as_breaks); return false;
          case GUMBO_NODE_ELEMENT:
          case GUMBO_NODE_TEMPLATE: break;
          default: return false;
        }
        const GumboElement& element = node->v.element;
        const std::string tag = tag_name(element);
        if (is_dropped_whole(tag) || tag == "img" || tag == "meta" || tag == "link" || tag == "base") {
          closers.emplace_back();
          return false;
        }
        if (auto target = cross_reference(element, node)) {
          out += "<a data-see=\"";
          append_text(out, *target, false);
          out += "\">";
          closers.emplace_back("</a>");
          return true;
        }
        std::string written = tag == "font" ? "span" : tag;
        if (!is_allowed(written)) {
          closers.emplace_back();
          return true;
        }
        out += "<" + written + ">";
        closers.push_back(is_void(written) ? "" : "</" + written + ">");
        return !is_void(written);
      },
      [&](const GumboNode* node) {
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) return;
        if (closers.empty()) return;
        out += closers.back();
        closers.pop_back();
      });
  return out;
}

}  // namespace ruvo::desktop::readers
