// How a dictionary entry's article is kept: the compact JSON of its fields ("definition", and
// "phonetic" when it has one), "seeAlso" and "html", deflated with zlib when that makes it
// smaller, else as it is (a zlib stream never starts with "{", so the first byte tells which).
// Only the store's own files include this.
#pragma once

#include "common/json.hpp"

#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

namespace ruvo::desktop::store {

// What an entry's packed column holds, unpacked.
struct Unpacked {
  common::JsonValue fields = common::JsonValue::object();  // "definition", "phonetic"
  std::vector<std::string> see_also;
  std::string html;
};

// Packs articles one after another, keeping one zlib stream for all of them: setting a stream up
// costs more than deflating a short article.
class Packer {
 public:
  Packer();
  ~Packer();
  Packer(const Packer&) = delete;
  Packer& operator=(const Packer&) = delete;

  std::string pack(const Unpacked& article);

 private:
  z_stream stream_{};
  bool ready_ = false;
};

// The article of a packed column; an unreadable one reads as no fields rather than failing the
// request.
Unpacked unpack(std::string_view packed);

}  // namespace ruvo::desktop::store
