// What the four readers share: the language of an article's text, the files beside a dictionary's
// main file, opening an articles' file whether plain or compressed, and finishing an article.
#pragma once

#include "readers/byte_source.hpp"
#include "readers/dictionary.hpp"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::readers {

// "zh" when Han characters make up at least a third of the text's letters and Han characters, else "en".
std::string article_language(std::string_view text);

// The path without its last `suffix` ("/d/foldoc" of "/d/foldoc.index" and ".index"); the path
// itself when it does not end so.
std::string without_suffix(const std::string& path, std::string_view suffix);

// The first of stem + each suffix that names a regular file, or nothing.
std::optional<std::string> first_existing(const std::string& stem, const std::vector<std::string_view>& suffixes);

// True when the path names a regular file (links followed).
bool file_exists(const std::string& path);

// The file at `path` as a ByteSource: through dictzip or gzip when its name ends in ".dz" or ".gz",
// as it is otherwise.
Result<std::unique_ptr<ByteSource>> open_data_file(const std::string& path);

// The whole of a small file (an index, an .ifo, a CC-CEDICT text): refused past `limit` bytes.
// A gzip file (by content) is inflated, its checks included, and refused past `limit` inflated bytes.
Result<std::string> read_whole_file(const std::string& path, std::uint64_t limit);

// Trims each alias, drops empty ones, the headword and repeats; drops see-also entries that are
// repeats or name the article itself; sets lang from the text when unset.
void finish_article(Article& article);

// True when `a` and `b` are the same after ASCII case folding.
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

}  // namespace ruvo::desktop::readers
