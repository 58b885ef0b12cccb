// Packing and unpacking a dictionary entry's article (packed.hpp).
#include "store/packed.hpp"

#include <cstdint>

namespace ruvo::desktop::store {

namespace {

using common::JsonValue;

// The most an article unpacks to: what the store ever packs, with room to spare; a column that
// claims more is not ours.
constexpr std::size_t kMostUnpacked = 1u << 20;

std::string compact(const Unpacked& article) {
  JsonValue all = article.fields.is_object() ? article.fields : JsonValue::object();
  if (!article.see_also.empty()) all["seeAlso"] = article.see_also;
  if (!article.html.empty()) all["html"] = article.html;
  return common::to_compact(all);
}

}  // namespace

Packer::Packer() { ready_ = deflateInit2(&stream_, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) == Z_OK; }

Packer::~Packer() {
  if (ready_) deflateEnd(&stream_);
}

std::string Packer::pack(const Unpacked& article) {
  std::string json = compact(article);
  // Below this, deflate's own header and checksum cost more than it saves.
  if (!ready_ || json.size() < 64) return json;
  if (deflateReset(&stream_) != Z_OK) return json;
  std::string out(deflateBound(&stream_, static_cast<uLong>(json.size())), '\0');
  stream_.next_in = reinterpret_cast<Bytef*>(json.data());
  stream_.avail_in = static_cast<uInt>(json.size());
  stream_.next_out = reinterpret_cast<Bytef*>(out.data());
  stream_.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return json;
  out.resize(out.size() - stream_.avail_out);
  return out.size() < json.size() ? out : json;
}

Unpacked unpack(std::string_view packed) {
  Unpacked article;
  std::string json;
  if (!packed.empty() && packed.front() == '{') {
    json = std::string(packed);
  } else if (!packed.empty()) {
    z_stream in{};
    if (inflateInit(&in) != Z_OK) return article;
    in.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    in.avail_in = static_cast<uInt>(packed.size());
    char buffer[16384];
    int rc = Z_OK;
    while (rc == Z_OK && json.size() <= kMostUnpacked) {
      in.next_out = reinterpret_cast<Bytef*>(buffer);
      in.avail_out = sizeof buffer;
      rc = inflate(&in, Z_NO_FLUSH);
      json.append(buffer, sizeof buffer - in.avail_out);
    }
    inflateEnd(&in);
    if (rc != Z_STREAM_END) return article;
  }
  auto parsed = common::parse_json(json);
  if (!parsed || !parsed->is_object()) return article;
  for (auto& [key, value] : parsed->items()) {
    if (key == "seeAlso" && value.is_array()) {
      for (const auto& word : value) {
        if (word.is_string()) article.see_also.push_back(word.get<std::string>());
      }
    } else if (key == "html" && value.is_string()) {
      article.html = value.get<std::string>();
    } else if (value.is_string()) {
      article.fields[key] = value;
    }
  }
  return article;
}

}  // namespace ruvo::desktop::store
