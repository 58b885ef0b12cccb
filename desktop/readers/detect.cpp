// Recognising dictionaries: a file by its name and content, a folder by what is in it.
#include "readers/dictionary.hpp"

#include "readers/byte_source.hpp"
#include "readers/cedict.hpp"
#include "readers/dictd.hpp"
#include "readers/gzip.hpp"
#include "readers/mdict.hpp"
#include "readers/read_support.hpp"
#include "readers/stardict.hpp"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace ruvo::desktop::readers {
namespace {

namespace fs = std::filesystem;

// A folder of dictionaries holds a few hundred files; a home folder given by mistake holds many more.
constexpr std::size_t kMostFilesLooked = 20000;
constexpr std::size_t kHeadSize = 64 * 1024;

bool ends_with(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string stem_name(const std::string& path, std::string_view suffix) { return file_name_of(without_suffix(path, suffix)); }

// The first bytes of a file, inflated when it is gzipped.
std::string head_of(const std::string& path) {
  auto file = FileBytes::open(path);
  if (!file) return "";
  auto head = (*file)->read(0, static_cast<std::size_t>(std::min<std::uint64_t>((*file)->size(), kHeadSize)));
  if (!head) return "";
  if (looks_gzipped(*head)) return gunzip_prefix(*head, kHeadSize);
  return std::move(*head);
}

Result<Found> as_dictd(const std::string& index) {
  const std::string shown = file_name_of(index);
  if (!file_exists(index)) return common::failure("找不到与之配套的 " + shown);
  if (!dictd_data_path(index)) return common::failure(shown + " 旁边没有 .dict 或 .dict.dz 文件");
  const std::string head = head_of(index);
  const auto line_end = head.find('\n');
  if (line_end == std::string::npos || !parse_dictd_index_line(std::string_view(head).substr(0, line_end), 1, shown)) {
    return common::failure(shown + " 不是 dictd 的索引文件（第一行不是“词头<TAB>偏移<TAB>长度”）");
  }
  auto name = dictd_name(index);
  return Found{Format::kDictd, index, name && !name->empty() ? *name : stem_name(index, ".index")};
}

Result<Found> as_stardict(const std::string& ifo) {
  const std::string shown = file_name_of(ifo);
  if (!file_exists(ifo)) return common::failure("找不到与之配套的 " + shown);
  auto text = read_whole_file(ifo, 1 << 20);
  if (!text) return text.error();
  auto info = parse_ifo(*text, shown);
  if (!info) return info.error();
  return Found{Format::kStarDict, ifo, info->bookname};
}

Result<Found> as_mdict(const std::string& mdx) {
  if (!file_exists(mdx)) return common::failure("找不到与之配套的 " + file_name_of(mdx));
  auto title = mdict_title(mdx);
  if (!title) return title.error();
  return Found{Format::kMdict, mdx, title->empty() ? stem_name(mdx, ".mdx") : *title};
}

// What the file is, by its name first and its content then.
Result<Found> recognise(const std::string& path) {
  for (const std::string_view suffix : {".dict.dz", ".dict.gz", ".dict"}) {
    if (!ends_with(path, suffix)) continue;
    const std::string stem = without_suffix(path, suffix);
    if (file_exists(stem + ".ifo")) return as_stardict(stem + ".ifo");
    if (file_exists(stem + ".index")) return as_dictd(stem + ".index");
    return common::failure(file_name_of(path) + " 旁边没有 .index（dictd）或 .ifo（StarDict）文件");
  }
  if (ends_with(path, ".index")) return as_dictd(path);
  if (ends_with(path, ".ifo")) return as_stardict(path);
  for (const std::string_view suffix : {".idx.gz", ".idx", ".syn"}) {
    if (ends_with(path, suffix)) return as_stardict(without_suffix(path, suffix) + ".ifo");
  }
  if (ends_with(path, ".mdx")) return as_mdict(path);
  if (ends_with(path, ".mdd")) {
    const std::string mdx = without_suffix(path, ".mdd") + ".mdx";
    if (file_exists(mdx)) return as_mdict(mdx);
    return common::failure(file_name_of(path) + " 是 MDict 的资源文件，旁边没有配套的 .mdx");
  }
  const std::string head = head_of(path);
  if (looks_like_cedict(head)) {
    const std::string name = cedict_name(head);
    return Found{Format::kCedict, path, name.empty() ? file_name_of(path) : name};
  }
  return common::failure("无法识别 " + file_name_of(path) + "：不是 dictd、StarDict、MDict 或 CC-CEDICT 词典");
}

void look_in(const fs::path& folder, int depth, std::size_t& looked, std::set<std::string>& seen,
             std::vector<Found>& found) {
  std::error_code error;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  if (error) return;
  std::vector<fs::path> files;
  std::vector<fs::path> folders;
  for (const auto end = fs::directory_iterator(); it != end && looked < kMostFilesLooked; it.increment(error)) {
    if (error) break;
    ++looked;
    std::error_code kind_error;
    if (it->is_directory(kind_error)) {
      folders.push_back(it->path());
    } else if (it->is_regular_file(kind_error)) {
      files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  for (const auto& file : files) {
    auto recognised = recognise(file.string());
    if (recognised && seen.insert(recognised->path).second) found.push_back(std::move(*recognised));
  }
  if (depth >= kFindDepth) return;
  for (const auto& sub : folders) look_in(sub, depth + 1, looked, seen, found);
}

}  // namespace

Result<std::vector<Found>> find_dictionaries(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::exists(status)) {
    if (error && error != std::errc::no_such_file_or_directory) {
      return common::Error{"无法读取 " + path + "：" + error.message(), error.value()};
    }
    return common::failure("找不到 " + path);
  }
  if (fs::is_directory(status)) {
    std::vector<Found> found;
    std::set<std::string> seen;
    std::size_t looked = 0;
    fs::directory_iterator probe(path, error);
    if (error) return common::Error{"无法列出文件夹 " + path + "：" + error.message(), error.value()};
    look_in(path, 1, looked, seen, found);
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.path < b.path; });
    return found;
  }
  if (!fs::is_regular_file(status)) return common::failure(path + " 既不是文件也不是文件夹");
  auto recognised = recognise(path);
  if (!recognised) return recognised.error();
  return std::vector<Found>{std::move(*recognised)};
}

}  // namespace ruvo::desktop::readers
