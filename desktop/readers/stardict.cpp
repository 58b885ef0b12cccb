// StarDict articles: their fields, what they become, and the reading of a whole dictionary.
#include "readers/stardict.hpp"

#include "common/utf8.hpp"
#include "readers/markup_text.hpp"
#include "readers/read_support.hpp"
#include "readers/sanitize.hpp"

#include <algorithm>
#include <map>

namespace ruvo::desktop::readers {
namespace {

constexpr std::uint64_t kIdxLimit = 1ull << 30;

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

std::uint32_t be32(std::string_view bytes, std::size_t pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + pos);
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// One field of type `type` at `pos`; `last` when it runs to the end under sametypesequence.
Result<std::size_t> read_field(std::string_view data, std::size_t pos, char type, bool runs_to_end, bool typed,
                               std::vector<StarDictField>& fields, const std::string& where) {
  if (!is_lower(type) && !is_upper(type)) {
    return common::failure(where + "：未知的字段类型“" + std::string(1, type) + "”");
  }
  if (runs_to_end) {
    fields.push_back({type, std::string(data.substr(pos))});
    return data.size();
  }
  if (is_lower(type)) {
    const auto end = data.find('\0', pos);
    if (end == std::string_view::npos && !typed) {
      return common::failure(where + "：“" + std::string(1, type) + "”字段没有结尾的 NUL，词条比 sametypesequence 说的短");
    }
    // A typed article's last field may end with the article instead of a NUL.
    const std::size_t stop = end == std::string_view::npos ? data.size() : end;
    fields.push_back({type, std::string(data.substr(pos, stop - pos))});
    return end == std::string_view::npos ? data.size() : end + 1;
  }
  if (data.size() - pos < 4) return common::failure(where + "：“" + std::string(1, type) + "”字段的长度不完整");
  const std::uint32_t length = be32(data, pos);
  if (data.size() - pos - 4 < length) {
    return common::failure(where + "：“" + std::string(1, type) + "”字段的长度 " + std::to_string(length) + " 超出了词条");
  }
  fields.push_back({type, std::string(data.substr(pos + 4, length))});
  return pos + 4 + length;
}

}  // namespace

Result<std::vector<StarDictField>> parse_stardict_fields(std::string_view data, std::string_view sametypesequence,
                                                         const std::string& where) {
  std::vector<StarDictField> fields;
  std::size_t pos = 0;
  if (!sametypesequence.empty()) {
    for (std::size_t i = 0; i < sametypesequence.size(); ++i) {
      const bool last = i + 1 == sametypesequence.size();
      if (pos >= data.size() && !last) return common::failure(where + "：词条比 sametypesequence 说的短");
      auto next = read_field(data, pos, sametypesequence[i], last, false, fields, where);
      if (!next) return next.error();
      pos = *next;
    }
    return fields;
  }
  while (pos < data.size()) {
    const char type = data[pos];
    auto next = read_field(data, pos + 1, type, false, true, fields, where);
    if (!next) return next.error();
    pos = *next;
  }
  return fields;
}

Result<Article> stardict_article(const std::vector<StarDictField>& fields, const std::string& where) {
  Article article;
  std::vector<std::string> texts;
  std::string html;
  bool rich = false;
  std::vector<std::string> phonetics;
  for (const auto& field : fields) {
    const char type = field.type;
    const bool plain = type == 'm' || type == 'l' || type == 'w';
    const bool markup = type == 'g' || type == 'h' || type == 'x' || type == 'k';
    const bool phonetic = type == 't' || type == 'y';
    if (!plain && !markup && !phonetic) continue;
    if (!common::is_valid_utf8(field.data)) {
      return common::failure(where + "：“" + std::string(1, type) + "”字段不是有效的 UTF-8 文本");
    }
    if (phonetic) {
      const std::string said(common::trim_unicode_space(field.data));
      if (!said.empty()) phonetics.push_back(said);
      continue;
    }
    if (plain) {
      std::string text = tidy_text(field.data);
      if (text.empty()) continue;
      html += "<div>" + plain_text_html({{text, ""}}) + "</div>";
      texts.push_back(std::move(text));
      continue;
    }
    const Markup dialect = type == 'g' ? Markup::kPango : type == 'x' ? Markup::kXdxf : Markup::kHtml;
    MarkupText converted = markup_to_text(field.data, dialect);
    if (!converted.phonetic.empty()) phonetics.push_back(converted.phonetic);
    for (auto& link : converted.links) article.see_also.push_back(std::move(link));
    if (converted.text.empty()) continue;
    html += "<div>" + sanitize_html(field.data, dialect) + "</div>";
    rich = true;
    texts.push_back(std::move(converted.text));
  }
  for (std::size_t i = 0; i < texts.size(); ++i) article.text += (i == 0 ? "" : "\n") + texts[i];
  for (std::size_t i = 0; i < phonetics.size(); ++i) article.phonetic += (i == 0 ? "" : "; ") + phonetics[i];
  if (rich || !article.see_also.empty()) article.html = std::move(html);
  return article;
}

Result<void> read_stardict_parts(std::string_view ifo_text, const std::string& ifo_name, std::string_view idx,
                                 const std::string& idx_name, const std::optional<std::string>& syn,
                                 const std::string& syn_name, ByteSource& dict, DictionaryMeta& meta,
                                 const ArticleSink& each) {
  auto info = parse_ifo(ifo_text, ifo_name);
  if (!info) return info.error();
  meta.name = info->bookname;
  meta.url = info->website;
  meta.declared_entries = info->wordcount;
  std::string about = markup_to_text(info->description, Markup::kHtml).text;
  for (const auto& [label, value] : {std::pair<const char*, const std::string*>{"作者：", &info->author},
                                    {"邮箱：", &info->email}, {"日期：", &info->date}}) {
    if (!value->empty()) about += (about.empty() ? "" : "\n") + std::string(label) + *value;
  }
  meta.info = tidy_text(about);
  if (idx.size() != info->idxfilesize) {
    return common::failure(idx_name + " 有 " + std::to_string(idx.size()) + " 字节，但 .ifo 的 idxfilesize 是 " +
                           std::to_string(info->idxfilesize) + "：文件不完整或不配套");
  }
  auto records = parse_idx(idx, info->idxoffsetbits, info->wordcount, idx_name);
  if (!records) return records.error();
  std::vector<SynRecord> synonyms;
  if (syn) {
    if (!info->synwordcount) return common::failure(ifo_name + " 缺少 synwordcount，但有 .syn 文件");
    auto parsed = parse_syn(*syn, *info->synwordcount, info->wordcount, syn_name);
    if (!parsed) return parsed.error();
    synonyms = std::move(*parsed);
  }
  for (std::size_t i = 0; i < records->size(); ++i) {
    const auto& record = (*records)[i];
    if (record.offset > dict.size() || record.size > dict.size() - record.offset) {
      return common::failure(idx_name + " 第 " + std::to_string(i + 1) + " 条（“" + record.word + "”）指向 " + dict.name() +
                             " 的末尾之外（偏移 " + std::to_string(record.offset) + "，长度 " + std::to_string(record.size) +
                             "，文件只有 " + std::to_string(dict.size()) + " 字节）");
    }
  }
  // One article per stored text: records that share their bytes, and the synonyms of any of them,
  // are its names.
  struct Group {
    std::uint64_t offset;
    std::uint32_t size;
    std::vector<std::size_t> records;
    std::vector<std::size_t> synonyms;
  };
  std::vector<Group> groups;
  std::vector<std::size_t> group_of(records->size());
  {
    std::map<std::pair<std::uint64_t, std::uint32_t>, std::size_t> by_place;
    for (std::size_t i = 0; i < records->size(); ++i) {
      const auto& record = (*records)[i];
      const auto [at, added] = by_place.try_emplace({record.offset, record.size}, groups.size());
      if (added) groups.push_back({record.offset, record.size, {}, {}});
      groups[at->second].records.push_back(i);
      group_of[i] = at->second;
    }
  }
  for (std::size_t i = 0; i < synonyms.size(); ++i) groups[group_of[synonyms[i].index]].synonyms.push_back(i);
  std::sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
    return a.offset != b.offset ? a.offset < b.offset : a.size < b.size;
  });
  for (const auto& group : groups) {
    const std::string& word = (*records)[group.records.front()].word;
    const std::string where = dict.name() + " 中的“" + word + "”";
    auto data = dict.read(group.offset, group.size);
    if (!data) return data.error();
    auto fields = parse_stardict_fields(*data, info->sametypesequence, where);
    if (!fields) return fields.error();
    auto article = stardict_article(*fields, where);
    if (!article) return article.error();
    if (article->text.empty()) continue;  // sound or pictures only: nothing to tell in text
    article->headword = word;
    for (std::size_t i = 1; i < group.records.size(); ++i) article->aliases.push_back((*records)[group.records[i]].word);
    for (const auto s : group.synonyms) article->aliases.push_back(synonyms[s].word);
    finish_article(*article);
    auto taken = each(std::move(*article));
    if (!taken) return taken;
  }
  return dict.finish();
}

Result<DictionaryMeta> read_stardict(const Found& found, const ArticleSink& each) {
  DictionaryMeta meta;
  meta.format = Format::kStarDict;
  meta.path = found.path;
  const std::string stem = without_suffix(found.path, ".ifo");
  auto ifo = read_whole_file(found.path, 1 << 20);
  if (!ifo) return ifo.error();
  const auto idx_path = first_existing(stem, {".idx", ".idx.gz"});
  if (!idx_path) return common::failure(file_name_of(found.path) + " 旁边没有 .idx 或 .idx.gz 文件");
  auto idx = read_whole_file(*idx_path, kIdxLimit);
  if (!idx) return idx.error();
  std::optional<std::string> syn;
  const std::string syn_path = stem + ".syn";
  if (file_exists(syn_path)) {
    auto read = read_whole_file(syn_path, kIdxLimit);
    if (!read) return read.error();
    syn = std::move(*read);
  }
  const auto dict_path = first_existing(stem, {".dict", ".dict.dz"});
  if (!dict_path) return common::failure(file_name_of(found.path) + " 旁边没有 .dict 或 .dict.dz 文件");
  auto dict = open_data_file(*dict_path);
  if (!dict) return dict.error();
  auto done = read_stardict_parts(*ifo, file_name_of(found.path), *idx, file_name_of(*idx_path), syn,
                                  file_name_of(syn_path), **dict, meta, each);
  if (!done) return done.error();
  return meta;
}

}  // namespace ruvo::desktop::readers
