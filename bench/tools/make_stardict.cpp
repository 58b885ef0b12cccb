// Writes a generated StarDict dictionary for the benchmarks:
//   make_stardict FOLDER [COUNT]   (COUNT headwords, 1,000,000 by default)
// FOLDER/bench.ifo, .idx, .syn (a synonym for every tenth word) and .dict.dz, with headwords
// "term0000001"… and short plain-text articles with a phonetic field, through the same writers the
// readers' tests use.
#include "desktop/readers/writers.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_stardict FOLDER [COUNT]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const long count = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 1000000;
  if (count <= 0) {
    std::fprintf(stderr, "make_stardict: COUNT must be a positive number\n");
    return 2;
  }
  std::vector<ruvo::test::StarDictWord> words;
  words.reserve(static_cast<std::size_t>(count));
  char name[32];
  for (long i = 1; i <= count; ++i) {
    std::snprintf(name, sizeof name, "term%07ld", i);
    ruvo::test::StarDictWord word;
    word.word = name;
    word.data = std::string("tɜːm ") + std::to_string(i) + '\0' + "Generated term number " + std::to_string(i) +
                ": a short article about " + name + ", see also term" + std::to_string(i % 1000 + 1) + ".";
    if (i % 10 == 0) word.synonyms.push_back(std::string("alias-") + name);
    words.push_back(std::move(word));
  }
  ruvo::test::StarDictOptions options;
  options.bookname = "Generated benchmark dictionary (" + std::to_string(count) + " words)";
  options.sametypesequence = "tm";
  const ruvo::test::StarDictFiles files = ruvo::test::stardict_files(std::move(words), options);
  const std::string stem = folder + "/bench";
  if (!ruvo::test::write_bytes(stem + ".ifo", files.ifo) || !ruvo::test::write_bytes(stem + ".idx", files.idx) ||
      !ruvo::test::write_bytes(stem + ".syn", files.syn) ||
      !ruvo::test::write_bytes(stem + ".dict.dz", ruvo::test::dictzip_bytes(files.dict, 60000))) {
    std::fprintf(stderr, "make_stardict: cannot write %s.*\n", stem.c_str());
    return 1;
  }
  std::printf("%s.ifo: %ld words, %zu bytes of articles\n", stem.c_str(), count, files.dict.size());
  return 0;
}
