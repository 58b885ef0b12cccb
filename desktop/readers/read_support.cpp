// Helpers the readers share.
#include "readers/read_support.hpp"

#include "common/utf8.hpp"
#include "readers/dictzip.hpp"
#include "readers/gzip.hpp"

#include <filesystem>
#include <set>
#include <system_error>

namespace ruvo::desktop::readers {

std::string article_language(std::string_view text) {
  std::size_t han = 0;
  std::size_t letters = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const auto step = common::decode_utf8(text, pos);
    pos += step.length;
    const char32_t c = step.scalar;
    if (!step.valid) continue;
    if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x20000 && c <= 0x2FA1F) ||
        (c >= 0xF900 && c <= 0xFAFF)) {
      ++han;
    } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c <= 0x24F) ||
               (c >= 0x370 && c <= 0x4FF)) {
      ++letters;
    }
  }
  return han > 0 && han * 3 >= han + letters ? "zh" : "en";
}

std::string without_suffix(const std::string& path, std::string_view suffix) {
  if (path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return path.substr(0, path.size() - suffix.size());
  }
  return path;
}

bool file_exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

std::optional<std::string> first_existing(const std::string& stem, const std::vector<std::string_view>& suffixes) {
  for (const auto suffix : suffixes) {
    std::string candidate = stem + std::string(suffix);
    if (file_exists(candidate)) return candidate;
  }
  return std::nullopt;
}

Result<std::unique_ptr<ByteSource>> open_data_file(const std::string& path) {
  auto file = FileBytes::open(path);
  if (!file) return file.error();
  std::unique_ptr<ByteSource> bytes = std::move(*file);
  const bool compressed = path.size() > 3 && (path.compare(path.size() - 3, 3, ".dz") == 0 ||
                                              path.compare(path.size() - 3, 3, ".gz") == 0);
  if (!compressed) return bytes;
  return open_compressed(std::move(bytes));
}

Result<std::string> read_whole_file(const std::string& path, std::uint64_t limit) {
  auto file = FileBytes::open(path);
  if (!file) return file.error();
  const std::uint64_t size = (*file)->size();
  if (size > limit) {
    return common::failure((*file)->name() + " 有 " + std::to_string(size) + " 字节，超过了 " + std::to_string(limit) +
                           " 字节的上限");
  }
  auto bytes = (*file)->read(0, static_cast<std::size_t>(size));
  if (!bytes) return bytes.error();
  if (looks_gzipped(*bytes)) return gunzip_all(*bytes, (*file)->name(), limit);
  return bytes;
}

void finish_article(Article& article) {
  article.headword = std::string(common::trim_unicode_space(article.headword));
  std::set<std::string> seen{article.headword};
  std::vector<std::string> aliases;
  for (auto& alias : article.aliases) {
    std::string trimmed(common::trim_unicode_space(alias));
    if (trimmed.empty() || !seen.insert(trimmed).second) continue;
    aliases.push_back(std::move(trimmed));
  }
  article.aliases = std::move(aliases);
  // A reference to the article itself leads nowhere new.
  std::set<std::string> seen_refs{article.headword};
  for (const auto& alias : article.aliases) seen_refs.insert(alias);
  std::vector<std::string> refs;
  for (auto& ref : article.see_also) {
    if (ref.empty() || !seen_refs.insert(ref).second) continue;
    refs.push_back(std::move(ref));
  }
  article.see_also = std::move(refs);
  if (article.lang.empty()) article.lang = article_language(article.text);
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && common::ascii_lower(a) == common::ascii_lower(b);
}

}  // namespace ruvo::desktop::readers
