// MDict's record section, @@@LINK= redirects, and the reading of a whole .mdx file.
#include "readers/mdict.hpp"

#include "common/utf8.hpp"
#include "readers/markup_text.hpp"
#include "readers/read_support.hpp"
#include "readers/sanitize.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

namespace ruvo::desktop::readers {
namespace {

constexpr int kMostLinkHops = 16;
constexpr std::string_view kLink = "@@@LINK=";

struct RecordBlock {
  std::uint64_t file_at = 0;
  std::uint64_t compressed = 0;
  std::uint64_t decompressed = 0;
  std::uint64_t start = 0;  // its first byte among all records joined
};

// Record bytes by offsets among all records joined, asked in increasing order: one block (or the
// few an entry spans) inflated at a time.
class RecordStream {
 public:
  RecordStream(ByteSource& file, const std::vector<RecordBlock>& blocks) : file_(file), blocks_(blocks) {}
  Result<std::string> get(std::uint64_t start, std::uint64_t end) {
    if (start < window_start_) {  // only on a backward step: start again
      next_block_ = 0;
      window_.clear();
      window_start_ = 0;
    }
    while (window_start_ + window_.size() < end) {
      if (next_block_ >= blocks_.size()) return common::failure(file_.name() + " 的记录超出了记录块的末尾：文件已损坏");
      const RecordBlock& block = blocks_[next_block_];
      auto wrapped = file_.read(block.file_at, static_cast<std::size_t>(block.compressed));
      if (!wrapped) return wrapped.error();
      auto content = decode_mdict_block(*wrapped, block.decompressed,
                                        file_.name() + " 的第 " + std::to_string(next_block_ + 1) + " 个记录块");
      if (!content) return content.error();
      ++next_block_;
      if (window_start_ + window_.size() <= start) {
        window_ = std::move(*content);
        window_start_ = block.start;
      } else {
        window_ += *content;
      }
    }
    if (start > window_start_) {
      window_.erase(0, static_cast<std::size_t>(start - window_start_));
      window_start_ = start;
    }
    return window_.substr(0, static_cast<std::size_t>(end - start));
  }

 private:
  ByteSource& file_;
  const std::vector<RecordBlock>& blocks_;
  std::size_t next_block_ = 0;
  std::string window_;
  std::uint64_t window_start_ = 0;
};

// The record section at `at`: its blocks, every count checked.
Result<std::vector<RecordBlock>> read_record_section(ByteSource& file, const MdictHeader& header, std::uint64_t at,
                                                     std::uint64_t entry_count, std::uint64_t& total) {
  const std::string& name = file.name();
  const int width = header.major_version >= 2 ? 8 : 4;
  auto head = file.read(at, 4 * width);
  if (!head) return common::failure(name + " 被截断：记录部分的头不完整");
  auto number = [&](const std::string& bytes, std::size_t pos) {
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[pos + i]);
    return value;
  };
  const std::uint64_t block_count = number(*head, 0);
  const std::uint64_t entries = number(*head, width);
  const std::uint64_t table_size = number(*head, 2 * width);
  const std::uint64_t blocks_size = number(*head, 3 * width);
  if (entries != entry_count) {
    return common::failure(name + " 的记录部分有 " + std::to_string(entries) + " 条，但关键词有 " +
                           std::to_string(entry_count) + " 个：文件已损坏");
  }
  if (block_count > file.size() || table_size != block_count * 2 * width) {
    return common::failure(name + " 的记录块大小表与块数不符：文件已损坏");
  }
  const std::uint64_t table_at = at + 4 * width;
  if (table_at + table_size > file.size()) return common::failure(name + " 被截断：记录块大小表不完整");
  auto table = file.read(table_at, static_cast<std::size_t>(table_size));
  if (!table) return table.error();
  std::vector<RecordBlock> blocks;
  blocks.reserve(static_cast<std::size_t>(block_count));
  std::uint64_t file_at = table_at + table_size;
  std::uint64_t compressed_total = 0;
  total = 0;
  for (std::uint64_t b = 0; b < block_count; ++b) {
    RecordBlock block;
    block.compressed = number(*table, static_cast<std::size_t>(b * 2 * width));
    block.decompressed = number(*table, static_cast<std::size_t>(b * 2 * width + width));
    block.file_at = file_at;
    block.start = total;
    if (block.compressed > file.size()) return common::failure(name + " 被截断：第 " + std::to_string(b + 1) + " 个记录块超出了文件末尾");
    file_at += block.compressed;
    compressed_total += block.compressed;
    total += block.decompressed;
    blocks.push_back(block);
  }
  if (compressed_total != blocks_size) return common::failure(name + " 的记录块总长与头里记的不符：文件已损坏");
  if (file_at > file.size()) {
    std::size_t cut = 0;
    while (cut < blocks.size() && blocks[cut].file_at + blocks[cut].compressed <= file.size()) ++cut;
    return common::failure(name + " 在第 " + std::to_string(cut + 1) + " 个记录块被截断");
  }
  return blocks;
}

// The record's text in UTF-8: its terminating NUL dropped.
Result<std::string> record_text(std::string bytes, Decoder& decoder, std::size_t unit, const std::string& where) {
  while (bytes.size() >= unit && std::all_of(bytes.end() - static_cast<long>(unit), bytes.end(), [](char c) { return c == '\0'; })) {
    bytes.resize(bytes.size() - unit);
  }
  auto text = decoder.decode(bytes);
  if (!text) return common::failure(where + "的内容不是有效的所声明编码的文本");
  return std::move(*text);
}

// The target of a link record ("@@@LINK=word"), or nothing.
std::optional<std::string> link_target(std::string_view text) {
  if (text.rfind(kLink, 0) != 0) return std::nullopt;
  std::string_view target = text.substr(kLink.size());
  const auto end = target.find_first_of("\r\n");
  if (end != std::string_view::npos) target = target.substr(0, end);
  return std::string(common::trim_unicode_space(target));
}

// True when the bytes begin with "@@@LINK=" in the charset.
bool starts_with_link(std::string_view bytes, std::size_t unit) {
  if (bytes.size() < kLink.size() * unit) return false;
  for (std::size_t i = 0; i < kLink.size(); ++i) {
    if (bytes[i * unit] != kLink[i]) return false;
    if (unit == 2 && bytes[i * unit + 1] != '\0') return false;
  }
  return true;
}

}  // namespace

Result<void> read_mdict_bytes(ByteSource& file, DictionaryMeta& meta, const ArticleSink& each) {
  const std::string& name = file.name();
  auto first = file.read(0, static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), 4)));
  if (!first || first->size() < 4) return common::failure(name + " 被截断：没有头部");
  const auto* p = reinterpret_cast<const unsigned char*>(first->data());
  const std::uint64_t header_length = static_cast<std::uint64_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
  auto header_bytes = file.read(0, static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), header_length + 8)));
  if (!header_bytes) return header_bytes.error();
  auto header = parse_mdict_header(*header_bytes, name);
  if (!header) return header.error();
  if (!header->title.empty()) meta.name = header->title;
  meta.info = header->description;
  std::uint64_t records_at = 0;
  auto keys = read_mdict_keys(file, *header, header->end, records_at);
  if (!keys) return keys.error();
  meta.declared_entries = keys->size();
  std::uint64_t total = 0;
  auto blocks = read_record_section(file, *header, records_at, keys->size(), total);
  if (!blocks) return blocks.error();
  // An entry runs to the next one's offset, the last one to the end of the records.
  std::vector<std::size_t> order(keys->size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return (*keys)[a].offset < (*keys)[b].offset; });
  std::vector<std::uint64_t> ends(keys->size(), total);
  for (std::size_t i = 0; i + 1 < order.size(); ++i) ends[order[i]] = (*keys)[order[i + 1]].offset;
  for (const auto& key : *keys) {
    if (key.offset > total) return common::failure(name + " 中“" + key.key + "”的记录偏移超出了记录块的末尾：文件已损坏");
  }
  const std::size_t unit = code_unit_size(header->charset);
  Decoder decoder(header->charset);
  // First pass: which records are links, and where they lead.
  std::vector<bool> is_link(keys->size(), false);
  std::unordered_map<std::size_t, std::string> targets;
  {
    RecordStream stream(file, *blocks);
    for (const std::size_t i : order) {
      auto bytes = stream.get((*keys)[i].offset, ends[i]);
      if (!bytes) return bytes.error();
      if (!starts_with_link(*bytes, unit)) continue;
      auto text = record_text(std::move(*bytes), decoder, unit, name + " 中“" + (*keys)[i].key + "”");
      if (!text) return text.error();
      if (auto target = link_target(*text); target && !target->empty()) {
        is_link[i] = true;
        targets[i] = std::move(*target);
      }
    }
  }
  // Each link's article: followed through other links, loops and dead ends dropped.
  std::unordered_map<std::string, std::size_t> article_of_key;
  if (!targets.empty()) {
    for (std::size_t i = 0; i < keys->size(); ++i) {
      if (!is_link[i]) article_of_key.try_emplace(std::string(common::trim_unicode_space((*keys)[i].key)), i);
    }
  }
  std::unordered_map<std::string, std::size_t> link_of_key;
  for (const auto& [i, target] : targets) link_of_key.try_emplace(std::string(common::trim_unicode_space((*keys)[i].key)), i);
  // The names of each article, in the order of their keys in the file.
  std::map<std::size_t, std::vector<std::size_t>> alias_keys;
  for (const auto& [i, target] : targets) {
    std::string at = target;
    for (int hop = 0; hop < kMostLinkHops; ++hop) {
      if (auto found = article_of_key.find(at); found != article_of_key.end()) {
        alias_keys[found->second].push_back(i);
        break;
      }
      auto link = link_of_key.find(at);
      if (link == link_of_key.end()) break;
      at = targets[link->second];
    }
  }
  // Second pass: the articles.
  RecordStream stream(file, *blocks);
  for (const std::size_t i : order) {
    if (is_link[i]) continue;
    const std::string where = name + " 中“" + (*keys)[i].key + "”";
    auto bytes = stream.get((*keys)[i].offset, ends[i]);
    if (!bytes) return bytes.error();
    auto text = record_text(std::move(*bytes), decoder, unit, where);
    if (!text) return text.error();
    Article article;
    article.headword = std::string(common::trim_unicode_space((*keys)[i].key));
    if (article.headword.empty()) continue;  // a key of nothing cannot be looked up
    if (header->html) {
      MarkupText converted = markup_to_text(*text, Markup::kHtml);
      article.text = std::move(converted.text);
      article.see_also = std::move(converted.links);
      article.html = sanitize_html(*text, Markup::kHtml);
    } else {
      article.text = tidy_text(*text);
    }
    if (article.text.empty()) continue;
    if (auto found = alias_keys.find(i); found != alias_keys.end()) {
      std::sort(found->second.begin(), found->second.end());
      for (const std::size_t k : found->second) article.aliases.push_back((*keys)[k].key);
    }
    finish_article(article);
    auto taken = each(std::move(article));
    if (!taken) return taken;
  }
  return {};
}

Result<std::string> mdict_title(const std::string& path) {
  auto file = FileBytes::open(path);
  if (!file) return file.error();
  auto first = (*file)->read(0, static_cast<std::size_t>(std::min<std::uint64_t>((*file)->size(), 4)));
  if (!first || first->size() < 4) return common::failure((*file)->name() + " 被截断：没有头部");
  const auto* p = reinterpret_cast<const unsigned char*>(first->data());
  const std::uint64_t length = static_cast<std::uint64_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
  auto bytes = (*file)->read(0, static_cast<std::size_t>(std::min<std::uint64_t>((*file)->size(), length + 8)));
  if (!bytes) return bytes.error();
  auto header = parse_mdict_header(*bytes, (*file)->name());
  if (!header) return header.error();
  return header->title;
}

Result<DictionaryMeta> read_mdict(const Found& found, const ArticleSink& each) {
  DictionaryMeta meta;
  meta.format = Format::kMdict;
  meta.path = found.path;
  meta.name = file_name_of(without_suffix(found.path, ".mdx"));
  auto file = FileBytes::open(found.path);
  if (!file) return file.error();
  auto done = read_mdict_bytes(**file, meta, each);
  if (!done) return done.error();
  return meta;
}

}  // namespace ruvo::desktop::readers
