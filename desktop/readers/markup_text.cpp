// Markup to plain text over gumbo's tree.
#include "readers/markup_text.hpp"

#include <algorithm>
#include <set>

namespace ruvo::desktop::readers {
namespace {

bool is_block(const std::string& tag) {
  static const std::set<std::string> kBlocks = {
      "address", "article", "aside",  "blockquote", "center", "dd",      "details", "dialog", "dir",   "div",
      "dl",      "dt",      "fieldset", "figcaption", "figure", "footer", "form",   "h1",     "h2",    "h3",
      "h4",      "h5",      "h6",     "header",     "hgroup", "hr",      "li",      "main",   "nav",   "ol",
      "p",       "pre",     "section", "summary",   "table",  "tbody",   "thead",   "tfoot",  "tr",    "ul",
      "caption", "legend",  "body",   "html",
      // XDXF's article and definition blocks
      "ar",      "def"};
  return kBlocks.count(tag) != 0;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Collects text a line at a time, collapsing white space as it comes.
class TextBuilder {
 public:
  // Ordinary text: runs of white space become one space; in `keep_lines` mode a line feed breaks the
  // line; in `preformatted` mode everything is kept.
  void add(std::string_view text, bool keep_lines, bool preformatted) {
    for (const char c : text) {
      if (preformatted) {
        if (c == '\n') {
          hard_break();
        } else {
          flush_space();
          out_ += c;
          at_line_start_ = false;
        }
        continue;
      }
      if (c == '\n' && keep_lines) {
        hard_break();
      } else if (is_space(c)) {
        pending_space_ = !at_line_start_;
      } else {
        flush_space();
        out_ += c;
        at_line_start_ = false;
      }
    }
  }
  // Ends the line unless it is empty.
  void soft_break() {
    if (!at_line_start_) hard_break();
  }
  void hard_break() {
    out_ += '\n';
    at_line_start_ = true;
    pending_space_ = false;
  }
  void space() {
    if (!at_line_start_) pending_space_ = true;
  }
  const std::string& text() const { return out_; }

 private:
  void flush_space() {
    if (pending_space_) out_ += ' ';
    pending_space_ = false;
  }
  std::string out_;
  bool at_line_start_ = true;
  bool pending_space_ = false;
};

}  // namespace

std::string tidy_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t blank_run = 0;
  bool any = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    std::string_view line = text.substr(pos, end - pos);
    while (!line.empty() && is_space(line.back())) line.remove_suffix(1);
    if (line.empty()) {
      ++blank_run;
    } else {
      if (any) out += blank_run > 0 ? "\n\n" : "\n";
      out.append(line);
      any = true;
      blank_run = 0;
    }
    if (end >= text.size()) break;
    pos = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  return out;
}

MarkupText markup_to_text(std::string_view markup, Markup dialect) {
  MarkupText result;
  HtmlTree tree(markup, dialect);
  TextBuilder builder;
  const bool keep_lines = dialect != Markup::kHtml;
  int preformatted = 0;
  int in_transcription = 0;
  std::string transcription;
  std::set<std::string> seen;
  walk_tree(
      tree.document(),
      [&](const GumboNode* node) {
        switch (node->type) {
          case GUMBO_NODE_TEXT:
          case GUMBO_NODE_WHITESPACE:
          case GUMBO_NODE_CDATA:
            builder.add(node->v.text.text, keep_lines, preformatted > 0);
            if (in_transcription > 0) transcription += node->v.text.text;
            return false;
          case GUMBO_NODE_ELEMENT:
          case GUMBO_NODE_TEMPLATE: break;
          default: return false;  // comments, the document type
        }
        const GumboElement& element = node->v.element;
        const std::string tag = tag_name(element);
        if (is_dropped_whole(tag) || (dialect == Markup::kXdxf && tag == "k")) return false;
        if (auto target = cross_reference(element, node); target && seen.insert(*target).second) {
          result.links.push_back(std::move(*target));
        }
        if (tag == "br") {
          builder.hard_break();
          return false;
        }
        if (tag == "td" || tag == "th") builder.space();
        if (is_block(tag)) builder.soft_break();
        if (tag == "pre" || tag == "xmp" || tag == "listing") ++preformatted;
        if (tag == "x-tr") {
          ++in_transcription;
          transcription.clear();
        }
        return true;
      },
      [&](const GumboNode* node) {
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) return;
        const std::string tag = tag_name(node->v.element);
        if (is_block(tag)) builder.soft_break();
        if (tag == "td" || tag == "th") builder.space();
        if (tag == "pre" || tag == "xmp" || tag == "listing") preformatted = std::max(0, preformatted - 1);
        if (tag == "x-tr" && in_transcription > 0) {
          --in_transcription;
          std::string said = collapse_spaces(transcription);
          if (!said.empty()) result.phonetic += (result.phonetic.empty() ? "" : "; ") + said;
        }
      });
  result.text = tidy_text(builder.text());
  return result;
}

}  // namespace ruvo::desktop::readers
