// gumbo parsing, the non-recursive walk, and cross-reference links.
#include "readers/html_tree.hpp"

#include "common/utf8.hpp"

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>
#include <vector>

namespace ruvo::desktop::readers {
namespace {

// XDXF's <tr ...> and </tr> as <x-tr ...> and </x-tr>, case ignored.
std::string rename_xdxf_tr(std::string_view markup) {
  std::string out;
  out.reserve(markup.size() + 16);
  for (std::size_t i = 0; i < markup.size(); ++i) {
    if (markup[i] == '<') {
      std::size_t at = i + 1;
      const bool closing = at < markup.size() && markup[at] == '/';
      if (closing) ++at;
      if (at + 2 <= markup.size() && (markup[at] | 0x20) == 't' && (markup[at + 1] | 0x20) == 'r' &&
          (at + 2 == markup.size() || markup[at + 2] == '>' || markup[at + 2] == ' ' || markup[at + 2] == '/' ||
           markup[at + 2] == '\t' || markup[at + 2] == '\n')) {
        out += closing ? "</x-tr" : "<x-tr";
        i = at + 1;
        continue;
      }
    }
    out += markup[i];
  }
  return out;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX escapes decoded when what they make is UTF-8; the text as it is otherwise.
std::string percent_decoded(std::string_view text) {
  if (text.find('%') == std::string_view::npos) return std::string(text);
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return common::is_valid_utf8(out) ? out : std::string(text);
}

// The parser's time grows with the square of the open elements' depth (10,000 levels take most of
// a second). No article nests anywhere near this deep, so markup that claims to is taken as text:
// every '<' as a character.
constexpr std::size_t kDeepest = 2000;

bool is_void_element(std::string_view name) {
  static const std::set<std::string, std::less<>> kVoid = {"area", "base", "br",   "col",   "embed", "hr",    "img",
                                                         "input", "link", "meta", "param", "source", "track", "wbr"};
  return kVoid.count(common::ascii_lower(name)) != 0;
}

// An upper bound of the nesting: tags opened (void elements aside) minus tags closed, at the
// deepest point.
std::size_t rough_depth(std::string_view markup) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  for (std::size_t i = 0; i + 1 < markup.size(); ++i) {
    if (markup[i] != '<') continue;
    const char next = markup[i + 1];
    if (next == '/') {
      if (depth > 0) --depth;
      continue;
    }
    if ((next | 0x20) < 'a' || (next | 0x20) > 'z') continue;
    std::size_t end = i + 1;
    while (end < markup.size() && std::isalnum(static_cast<unsigned char>(markup[end])) != 0) ++end;
    const std::string_view name = markup.substr(i + 1, end - i - 1);
    // "<span/>" opens a span in HTML: only void elements leave the depth as it is.
    const auto close = markup.find('>', end);
    if (!is_void_element(name)) deepest = std::max(deepest, ++depth);
    if (close == std::string_view::npos) break;
    i = close;
  }
  return deepest;
}

std::string as_text(std::string_view markup) {
  std::string out;
  out.reserve(markup.size() + markup.size() / 8);
  for (const char c : markup) {
    if (c == '<') {
      out += "&lt;";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string collapse_spaces(std::string_view text) {
  std::string out;
  bool space = false;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out += c;
    }
  }
  return out;
}

HtmlTree::HtmlTree(std::string_view markup, Markup dialect)
    : source_(rough_depth(markup) > kDeepest  ? as_text(markup)
              : dialect == Markup::kXdxf         ? rename_xdxf_tr(markup)
                                                 : std::string(markup)) {
  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = 0;  // errors are not used: keep none
  output_ = gumbo_parse_with_options(&options, source_.data(), source_.size());
}

HtmlTree::~HtmlTree() {
  if (output_ != nullptr) gumbo_destroy_output(&kGumboDefaultOptions, output_);
}

const GumboNode* HtmlTree::document() const { return output_ == nullptr ? nullptr : output_->document; }

std::string tag_name(const GumboElement& element) {
  if (element.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(element.tag);
  GumboStringPiece piece = element.original_tag;
  gumbo_tag_from_original_text(&piece);
  std::string name(piece.data == nullptr ? "" : std::string(piece.data, piece.length));
  for (auto& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

std::optional<std::string_view> attribute(const GumboElement& element, const char* name) {
  const GumboAttribute* found = gumbo_get_attribute(&element.attributes, name);
  if (found == nullptr || found->value == nullptr) return std::nullopt;
  return std::string_view(found->value);
}

std::string text_content(const GumboNode* node) {
  std::string raw;
  walk_tree(
      node,
      [&](const GumboNode* n) {
        if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA) {
          raw += n->v.text.text;
          return false;
        }
        return n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE;
      },
      [](const GumboNode*) {});
  return collapse_spaces(raw);
}

std::optional<std::string> cross_reference(const GumboElement& element, const GumboNode* node) {
  if (element.tag == GUMBO_TAG_A) {
    const auto href = attribute(element, "href");
    if (!href) return std::nullopt;
    std::string_view target = common::trim_unicode_space(*href);
    bool matched = false;
    for (const std::string_view scheme : {"bword://", "entry://"}) {
      if (target.size() >= scheme.size() && common::ascii_lower(target.substr(0, scheme.size())) == scheme) {
        target.remove_prefix(scheme.size());
        matched = true;
        break;
      }
    }
    if (!matched) return std::nullopt;
    const auto hash = target.find('#');
    if (hash != std::string_view::npos) target = target.substr(0, hash);
    std::string word = collapse_spaces(percent_decoded(target));
    if (word.empty()) return std::nullopt;
    return word;
  }
  if (element.tag == GUMBO_TAG_UNKNOWN && tag_name(element) == "kref") {
    const auto k = attribute(element, "k");
    std::string word = k ? collapse_spaces(*k) : text_content(node);
    if (word.empty()) return std::nullopt;
    return word;
  }
  return std::nullopt;
}

void walk_tree(const GumboNode* root, const std::function<bool(const GumboNode*)>& enter,
               const std::function<void(const GumboNode*)>& leave) {
  if (root == nullptr) return;
  struct Frame {
    const GumboNode* node;
    unsigned int next;
  };
  auto children_of = [](const GumboNode* node) -> const GumboVector* {
    if (node->type == GUMBO_NODE_DOCUMENT) return &node->v.document.children;
    if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) return &node->v.element.children;
    return nullptr;
  };
  std::vector<Frame> stack;
  // The root itself is the container; its children are the nodes visited.
  stack.push_back({root, 0});
  while (!stack.empty()) {
    Frame& top = stack.back();
    const GumboVector* children = children_of(top.node);
    if (children == nullptr || top.next >= children->length) {
      const GumboNode* done = top.node;
      stack.pop_back();
      if (!stack.empty()) leave(done);
      continue;
    }
    const auto* child = static_cast<const GumboNode*>(children->data[top.next++]);
    if (enter(child) && children_of(child) != nullptr) {
      stack.push_back({child, 0});
    } else {
      leave(child);
    }
  }
}

bool is_dropped_whole(const std::string& tag) {
  static const std::set<std::string> kDropped = {
      "script", "style",  "iframe", "frame",    "frameset", "object", "embed",  "applet", "svg",   "math",
      "template", "noscript", "noembed", "noframes", "title", "head",   "audio",  "video",  "canvas", "select",
      "textarea", "button", "input",  "xmp",      "plaintext", "rref", "param", "source", "track"};
  return kDropped.count(tag) != 0;
}

}  // namespace ruvo::desktop::readers
