// The sanitizer against hostile articles: whatever goes in, what comes out holds only whitelisted
// elements with no attribute but data-see, so nothing from a dictionary can run or load.
#include "readers/sanitize.hpp"

#include <gtest/gtest.h>

#include <set>

namespace ruvo::test {
namespace {

using namespace desktop::readers;

// Every element of the output, parsed again, is whitelisted, and only <a> has an attribute: data-see.
void expect_harmless(const std::string& html) {
  static const std::set<std::string> kAllowed = {
      "html", "head", "body",  // what the parser adds around any fragment
      "b", "i", "u", "em", "strong", "sub", "sup", "small", "big", "br", "p", "div", "span", "ul", "ol", "li", "dl",
      "dt", "dd", "table", "thead", "tbody", "tr", "td", "th", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote",
      "pre", "code", "hr", "a"};
  HtmlTree tree(html, Markup::kHtml);
  walk_tree(
      tree.document(),
      [&](const GumboNode* node) {
        if (node->type == GUMBO_NODE_COMMENT) ADD_FAILURE() << "a comment in " << html;
        if (node->type != GUMBO_NODE_ELEMENT) return false;
        const std::string tag = tag_name(node->v.element);
        EXPECT_EQ(kAllowed.count(tag), 1u) << tag << " in " << html;
        const GumboVector& attributes = node->v.element.attributes;
        for (unsigned i = 0; i < attributes.length; ++i) {
          const auto* attribute = static_cast<const GumboAttribute*>(attributes.data[i]);
          EXPECT_TRUE(tag == "a" && std::string(attribute->name) == "data-see")
              << attribute->name << " on " << tag << " in " << html;
        }
        return true;
      },
      [](const GumboNode*) {});
  // Text has its '<' escaped, so each '<' left opens a tag the sanitizer wrote.
  for (std::size_t open = html.find('<'); open != std::string::npos; open = html.find('<', open + 1)) {
    std::string tag = html.substr(open, html.find('>', open) - open);
    // A data-see value is the word a link names, escaped: inert whatever it says.
    if (const auto value = tag.find("data-see=\""); value != std::string::npos) tag.erase(value);
    for (const char* word : {"script", "javascript:", "on", "style", "href", "src", "class"}) {
      if (std::string(word) == "on") {
        EXPECT_EQ(tag.find(" on"), std::string::npos) << tag << " in " << html;
      } else {
        EXPECT_EQ(tag.find(word), std::string::npos) << word << " in " << tag << " of " << html;
      }
    }
  }
}

TEST(SanitizeTest, HostileArticlesComeOutHarmless) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"<script>alert(1)</script>text", "text"},
      {"<SCRIPT SRC=//evil/x.js></SCRIPT>after", "after"},
      {"<img src=x onerror=alert(1)>pic", "pic"},
      {"<a href=\"javascript:alert(1)\">click</a>", "click"},
      {"<a href=\"  JaVaScRiPt:alert(1)\">click</a>", "click"},
      {"<a href=\"data:text/html,<script>alert(1)</script>\">d</a>", "d"},
      {"<a href=\"http://example.org/\" target=_blank>out</a>", "out"},
      {"<b onclick=\"steal()\" style=\"background:url(javascript:x)\" class=\"c\" id=\"i\">bold</b>", "<b>bold</b>"},
      {"<div style=\"position:fixed;top:0\">over</div>", "<div>over</div>"},
      {"<style>body{display:none}</style>seen", "seen"},
      {"<iframe src=\"http://evil/\">inner</iframe>x", "x"},
      {"<object data=x><embed src=y></object>z", "z"},
      {"<svg onload=alert(1)><script>alert(2)</script></svg>s", "s"},
      {"<math><mtext><script>alert(1)</script></mtext></math>m", "m"},
      {"<form action=//evil><input name=q value=v><button>go</button></form>f", "f"},
      {"<meta http-equiv=refresh content=\"0;url=//evil\"><link rel=stylesheet href=//evil/c.css><base href=//evil>t", "t"},
      {"<font color=red face=x>red</font>", "<span>red</span>"},
      {"<b><i>broken</b> nesting</i>", "<b><i>broken</i></b><i> nesting</i>"},
      {"<p>unclosed <div>block", "<p>unclosed </p><div>block</div>"},
      {"&lt;script&gt;alert(1)&lt;/script&gt;", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"&#60;img src=x onerror=alert(1)&#62;", "&lt;img src=x onerror=alert(1)&gt;"},
      {"<scr<script>ipt>alert(1)</script>", "ipt&gt;alert(1)"},  // a tag named "scr<script", unwrapped
      {"<a href=\"entry://x\" onmouseover=\"alert(1)\">x</a>", "<a data-see=\"x\">x</a>"},
      {"<a href='bword://\"><script>alert(1)</script>'>q</a>", "<a data-see=\"&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;\">q</a>"},
      {"<!-- <script>alert(1)</script> -->c", "c"},
      {"<noscript><img src=x onerror=alert(1)></noscript>n", "n"},
      {"<template><script>alert(1)</script></template>t", "t"},
      {"<textarea><script>alert(1)</script></textarea>a", "a"},
      {"<xmp><script>alert(1)</script></xmp>b", "b"},
      {"<table><tr><td onclick=x>cell</td></tr></table>", "<table><tbody><tr><td>cell</td></tr></tbody></table>"},
      {"<ul><li>one<li>two</ul>", "<ul><li>one</li><li>two</li></ul>"},
      {"<audio src=x autoplay></audio><video poster=y></video>v", "v"},
      {"<custom-el data-x=1>inside</custom-el>", "inside"},
  };
  for (const auto& [input, output] : cases) {
    const std::string html = sanitize_html(input, Markup::kHtml);
    EXPECT_EQ(html, output) << input;
    expect_harmless(html);
  }
}

TEST(SanitizeTest, DeepNestingAndDialects) {
  std::string deep;
  for (int i = 0; i < 900; ++i) deep += "<div><b>";
  deep += "core";
  const std::string html = sanitize_html(deep, Markup::kHtml);
  EXPECT_NE(html.find("core"), std::string::npos);
  expect_harmless(html);
  // Past the depth the parser can take in reasonable time, the markup is text.
  std::string deeper;
  for (int i = 0; i < 3000; ++i) deeper += "<div>";
  deeper += "<script>alert(1)</script>";
  const std::string flat = sanitize_html(deeper, Markup::kHtml);
  EXPECT_EQ(flat.find('<'), std::string::npos);
  EXPECT_NE(flat.find("&lt;script&gt;"), std::string::npos);
  expect_harmless(flat);
  // Void elements and closed ones do not count as depth; "<span/>" is an open span in HTML.
  std::string wide;
  for (int i = 0; i < 3000; ++i) wide += "<br><img src=x><b>x</b>";
  EXPECT_NE(sanitize_html(wide, Markup::kHtml).find("<b>x</b>"), std::string::npos);
  std::string spans;
  for (int i = 0; i < 3000; ++i) spans += "<span/>";
  EXPECT_EQ(sanitize_html(spans + "<b>y</b>", Markup::kHtml).find("<b>"), std::string::npos);
  EXPECT_EQ(sanitize_html("one\ntwo <b>b</b>", Markup::kPango), "one<br>two <b>b</b>");
  EXPECT_EQ(sanitize_html("<k>cat</k> <tr>kæt</tr> <kref>kitten</kref>", Markup::kXdxf),
            "cat kæt <a data-see=\"kitten\">kitten</a>");
}

TEST(SanitizeTest, PlainTextWithReferences) {
  EXPECT_EQ(plain_text_html({{"a <b> & 'q'\nnext ", ""}, {"word\nsplit", "word split"}, {".", ""}}),
            "a &lt;b&gt; &amp; &#39;q&#39;<br>next <a data-see=\"word split\">word<br>split</a>.");
  EXPECT_EQ(escape_html("<\"&'>"), "&lt;&quot;&amp;&#39;&gt;");
}

}  // namespace
}  // namespace ruvo::test
