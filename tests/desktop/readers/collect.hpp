// What the readers' tests share: reading a dictionary into a list, and finding an article in it.
#pragma once

#include "readers/dictionary.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::test {

struct Collected {
  std::vector<desktop::readers::Article> articles;
  desktop::readers::DictionaryMeta meta;
  std::string error;  // "" when the whole dictionary was read
};

// Reads through a sink that keeps every article; with `stop_after` the sink refuses the article
// after that many, so a test can see that a sink's error ends the reading as it is.
inline Collected collect(const std::function<desktop::readers::Result<desktop::readers::DictionaryMeta>(
                             const desktop::readers::ArticleSink&)>& read) {
  Collected out;
  auto meta = read([&](desktop::readers::Article&& article) -> desktop::readers::Result<void> {
    out.articles.push_back(std::move(article));
    return {};
  });
  if (meta) {
    out.meta = *meta;
  } else {
    out.error = meta.error().message;
  }
  return out;
}

inline Collected collect_found(const desktop::readers::Found& found) {
  return collect([&](const desktop::readers::ArticleSink& sink) { return desktop::readers::read_dictionary(found, sink); });
}

// The first article with this headword, or nullptr.
inline const desktop::readers::Article* article_named(const Collected& collected, std::string_view headword) {
  for (const auto& article : collected.articles) {
    if (article.headword == headword) return &article;
  }
  return nullptr;
}

}  // namespace ruvo::test
