// The MDict header: its length, its UTF-16LE XML with the Adler-32 after it, and the attributes
// that matter, read through gumbo (attribute values carry entities and HTML).
#include "readers/mdict.hpp"

#include "readers/html_tree.hpp"
#include "readers/markup_text.hpp"

#include <zlib.h>

#include <charconv>

namespace ruvo::desktop::readers {
namespace {

constexpr std::uint32_t kHeaderLimit = 16u << 20;

std::uint32_t be32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// The major number of a version such as "2.0" or "1.2"; nothing for other text.
std::optional<int> major_of(std::string_view version) {
  int major = 0;
  const auto [end, error] = std::from_chars(version.data(), version.data() + version.size(), major);
  if (error != std::errc() || end == version.data()) return std::nullopt;
  return major;
}

}  // namespace

Result<MdictHeader> parse_mdict_header(std::string_view bytes, const std::string& file) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < 4) return common::failure(file + " 被截断：没有头部");
  const std::uint32_t length = be32(p);
  if (length > kHeaderLimit) return common::failure(file + " 的头部长度 " + std::to_string(length) + " 不合理：不是 MDict 文件");
  if (bytes.size() - 4 < static_cast<std::uint64_t>(length) + 4) return common::failure(file + " 被截断：头部不完整");
  const std::string_view xml = bytes.substr(4, length);
  const std::uint32_t stored = static_cast<std::uint32_t>(p[4 + length]) | static_cast<std::uint32_t>(p[5 + length]) << 8 |
                               static_cast<std::uint32_t>(p[6 + length]) << 16 |
                               static_cast<std::uint32_t>(p[7 + length]) << 24;
  const auto computed = static_cast<std::uint32_t>(
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(xml.data()), static_cast<uInt>(xml.size())));
  if (stored != computed) return common::failure(file + " 的头部校验和（Adler-32）不符：文件已损坏");
  Decoder utf16(Charset::kUtf16Le);
  std::string_view units = xml;
  if (units.size() % 2 != 0) return common::failure(file + " 的头部不是 UTF-16 文本");
  auto text = utf16.decode(units);
  if (!text) return common::failure(file + " 的头部不是有效的 UTF-16 文本");
  while (!text->empty() && text->back() == '\0') text->pop_back();

  HtmlTree tree(*text, Markup::kHtml);
  const GumboElement* tag = nullptr;
  walk_tree(
      tree.document(),
      [&](const GumboNode* node) {
        if (tag != nullptr || node->type != GUMBO_NODE_ELEMENT) return false;
        if (tag_name(node->v.element) == "dictionary") {
          tag = &node->v.element;
          return false;
        }
        return true;
      },
      [](const GumboNode*) {});
  if (tag == nullptr) return common::failure(file + " 的头部没有 <Dictionary> 标签：不是 MDict 词典（.mdd 资源文件不读）");
  MdictHeader header;
  header.end = 8 + length;
  auto value = [&](const char* name) { return std::string(attribute(*tag, name).value_or("")); };
  std::string engine = value("generatedbyengineversion");
  if (engine.empty()) engine = value("requiredengineversion");
  const auto major = major_of(engine);
  if (!major || *major < 1 || *major > 3) {
    return common::failure(file + " 的引擎版本“" + engine + "”不支持（只读 1.x 和 2.x）");
  }
  header.major_version = *major >= 2 ? 2 : 1;
  const std::string encrypted = value("encrypted");
  if (encrypted.empty() || encrypted == "No" || encrypted == "no") {
    header.encrypted = 0;
  } else if (encrypted == "Yes" || encrypted == "yes") {
    header.encrypted = 1;
  } else {
    int bits = 0;
    const auto [end, error] = std::from_chars(encrypted.data(), encrypted.data() + encrypted.size(), bits);
    if (error != std::errc() || end != encrypted.data() + encrypted.size() || bits < 0 || bits > 3) {
      return common::failure(file + " 的 Encrypted 值“" + encrypted + "”看不懂");
    }
    header.encrypted = bits;
  }
  const std::string encoding = value("encoding");
  const auto charset = charset_from_name(encoding);
  if (!charset) return common::failure(file + " 的编码“" + encoding + "”不支持（只读 UTF-8、UTF-16、GBK、Big5）");
  header.charset = *charset;
  header.html = value("format") != "Text";
  header.title = value("title");
  if (header.title == "Title (No HTML code allowed)") header.title.clear();
  header.description = markup_to_text(value("description"), Markup::kHtml).text;
  if (header.description == "Description of this dictionary") header.description.clear();
  return header;
}

}  // namespace ruvo::desktop::readers
