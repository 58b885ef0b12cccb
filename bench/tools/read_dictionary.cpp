// Reads dictionaries as the service would add them and says what it saw and how long it took:
//   read_dictionary PATH...   (a dictionary file or a folder of them)
// One line per dictionary: format, name, articles, aliases, see-also links, text bytes, seconds.
// With --show WORD, the articles whose headword or alias is WORD are printed too.
#include "readers/dictionary.hpp"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace readers = ruvo::desktop::readers;

int main(int argc, char** argv) {
  std::vector<std::string> paths;
  std::vector<std::string> show;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--show" && i + 1 < argc) {
      show.emplace_back(argv[++i]);
    } else {
      paths.push_back(word);
    }
  }
  if (paths.empty()) {
    std::fprintf(stderr, "usage: read_dictionary [--show WORD]... PATH...\n");
    return 2;
  }
  int status = 0;
  for (const auto& path : paths) {
    const auto started = std::chrono::steady_clock::now();
    auto found = readers::find_dictionaries(path);
    if (!found) {
      std::fprintf(stderr, "%s\n", found.error().text().c_str());
      status = 1;
      continue;
    }
    for (const auto& dictionary : *found) {
      const auto begin = std::chrono::steady_clock::now();
      std::size_t articles = 0, aliases = 0, links = 0, text_bytes = 0;
      auto meta = readers::read_dictionary(dictionary, [&](readers::Article&& article) -> readers::Result<void> {
        ++articles;
        aliases += article.aliases.size();
        links += article.see_also.size();
        text_bytes += article.text.size();
        for (const auto& word : show) {
          bool match = article.headword == word;
          for (const auto& alias : article.aliases) match = match || alias == word;
          if (!match) continue;
          std::printf("--- %s [%s] lang=%s\n", article.headword.c_str(), article.phonetic.c_str(), article.lang.c_str());
          for (const auto& alias : article.aliases) std::printf("alias: %s\n", alias.c_str());
          for (const auto& see : article.see_also) std::printf("see: %s\n", see.c_str());
          std::printf("%s\n", article.text.c_str());
          if (!article.html.empty()) std::printf("html: %s\n", article.html.c_str());
        }
        return {};
      });
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
      if (!meta) {
        std::printf("%s\t%s\tFAILED: %s\t%.3f s\n", std::string(readers::format_name(dictionary.format)).c_str(),
                    dictionary.path.c_str(), meta.error().text().c_str(), seconds);
        status = 1;
        continue;
      }
      std::printf("%s\t%s\t%zu articles\t%zu aliases\t%zu see-also\t%zu text bytes\tdeclared %s\t%.3f s\n",
                  std::string(readers::format_name(dictionary.format)).c_str(), meta->name.c_str(), articles, aliases,
                  links, text_bytes,
                  meta->declared_entries ? std::to_string(*meta->declared_entries).c_str() : "-", seconds);
    }
    (void)started;
  }
  return status;
}
