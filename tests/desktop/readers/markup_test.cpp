// Markup to plain text: what a browser would show, as lines.
#include "readers/markup_text.hpp"

#include <gtest/gtest.h>

namespace ruvo::test {
namespace {

using desktop::readers::Markup;
using desktop::readers::markup_to_text;
using desktop::readers::tidy_text;

TEST(MarkupTextTest, HtmlBecomesLines) {
  struct Case {
    const char* html;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"<p>one</p><p>two</p>", "one\ntwo"},
      {"a<br>b<br/><br>c", "a\nb\n\nc"},
      {"a<br><br><br><br>b", "a\n\nb"},  // runs of blank lines collapse
      {"  spread\n  over\tlines  ", "spread over lines"},
      {"&lt;tag&gt; &amp; &quot;q&quot; &eacute; &#x4e2d;&#25991; &nbsp;x", "<tag> & \"q\" é 中文 \u00a0x"},
      {"<script>alert('x')</script>kept<style>p{color:red}</style>", "kept"},
      {"be<!-- a comment -->fore", "before"},
      {"<ul><li>first</li><li>second</li></ul>", "first\nsecond"},
      {"<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>", "a b\nc"},
      {"<pre>  keep\n    this</pre>", "  keep\n    this"},
      {"<div>x<div>y</div>z</div>", "x\ny\nz"},
      {"<b>bold</b> <i>it</i>alic", "bold italic"},
      {"<h1>Title</h1>body", "Title\nbody"},
      {"<svg><text>drawn</text></svg>shown<iframe>inner</iframe>", "shown"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(markup_to_text(c.html, Markup::kHtml).text, c.text) << c.html;
}

TEST(MarkupTextTest, PangoAndXdxfKeepTheirLines) {
  EXPECT_EQ(markup_to_text("<b>one</b>\ntwo\n\n\nthree", Markup::kPango).text, "one\ntwo\n\nthree");
  EXPECT_EQ(markup_to_text("one\ntwo", Markup::kHtml).text, "one two");
  const auto xdxf = markup_to_text("<k>cat</k>\n<tr>kæt</tr> <TR>kat</TR>\n<def>animal, <kref>kitten</kref>, "
                                   "<kref k=\"tomcat\">tom</kref></def>",
                                   Markup::kXdxf);
  EXPECT_EQ(xdxf.text, "kæt kat\nanimal, kitten, tom");
  EXPECT_EQ(xdxf.phonetic, "kæt; kat");
  EXPECT_EQ(xdxf.links, (std::vector<std::string>{"kitten", "tomcat"}));
}

TEST(MarkupTextTest, CrossReferencesAreCollectedOnce) {
  const auto text = markup_to_text(
      "<a href=\"bword://deadlock\">d</a> <a href=\"entry://live%20lock#sense2\">l</a> <a href=\"ENTRY://deadlock\">again</a>"
      " <a href=\"http://x\">web</a> <a href=\"entry://#top\">top</a> <a href=\"sound://a.mp3\">play</a>",
      Markup::kHtml);
  EXPECT_EQ(text.links, (std::vector<std::string>{"deadlock", "live lock"}));
  EXPECT_EQ(text.text, "d l again web top play");
}

TEST(MarkupTextTest, TidyText) {
  EXPECT_EQ(tidy_text("\n\n  a  \r\nb\r\r\r\rc \n\n"), "  a\nb\n\nc");
  EXPECT_EQ(tidy_text(" \n \t \n"), "");
}

}  // namespace
}  // namespace ruvo::test
