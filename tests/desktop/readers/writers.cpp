// The fixture writers: dictzip with zlib, StarDict's and dictd's files, MDict with zlib and LZO.
#include "desktop/readers/writers.hpp"

#include "readers/mdict.hpp"

#include <iconv.h>
#include <lzo1x.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>

namespace ruvo::test {
namespace {

void put_le16(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xff);
  out += static_cast<char>((value >> 8) & 0xff);
}
void put_le32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}
void put_be(std::string& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

std::uint32_t adler(std::string_view bytes) {
  return static_cast<std::uint32_t>(
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string zlib_bytes(std::string_view content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
            static_cast<uLong>(content.size()), 9);
  out.resize(size);
  return out;
}

std::string lzo_bytes(std::string_view content) {
  static const bool ready = lzo_init() == LZO_E_OK;
  if (!ready) throw std::runtime_error("lzo_init");
  std::string out(content.size() + content.size() / 16 + 64 + 3, '\0');
  std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
  lzo_uint size = out.size();
  lzo1x_1_compress(reinterpret_cast<const lzo_bytep>(content.data()), content.size(),
                   reinterpret_cast<lzo_bytep>(out.data()), &size, work.data());
  out.resize(size);
  return out;
}

bool stardict_less(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto lower = [](char c) { return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
    if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

bool write_bytes(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

std::string gzip_bytes(std::string_view content, std::string_view name) {
  std::string out("\x1f\x8b\x08", 3);
  out += static_cast<char>(name.empty() ? 0 : 8);
  out += std::string(4, '\0');  // no time
  out += '\x02';
  out += '\x03';
  if (!name.empty()) {
    out += name;
    out += '\0';
  }
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string packed(deflateBound(&z, static_cast<uLong>(content.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  z.avail_in = static_cast<uInt>(content.size());
  z.next_out = reinterpret_cast<Bytef*>(packed.data());
  z.avail_out = static_cast<uInt>(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(packed.size() - z.avail_out);
  deflateEnd(&z);
  out += packed;
  put_le32(out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                                 static_cast<uInt>(content.size()))));
  put_le32(out, static_cast<std::uint32_t>(content.size()));
  return out;
}

std::string dictzip_bytes(std::string_view content, std::uint16_t chunk_length, bool with_name) {
  // One deflate stream, fully flushed after each chunk so that each can be inflated alone, and
  // finished after the last one, as dictzip does.
  std::vector<std::string> chunks;
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string ending;
  for (std::size_t at = 0; at < content.size(); at += chunk_length) {
    const std::string_view piece = content.substr(at, chunk_length);
    std::string packed(deflateBound(&z, static_cast<uLong>(piece.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    z.avail_in = static_cast<uInt>(piece.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FULL_FLUSH);
    packed.resize(packed.size() - z.avail_out);
    chunks.push_back(std::move(packed));
  }
  ending.assign(64, '\0');
  z.next_in = nullptr;
  z.avail_in = 0;
  z.next_out = reinterpret_cast<Bytef*>(ending.data());
  z.avail_out = static_cast<uInt>(ending.size());
  deflate(&z, Z_FINISH);
  ending.resize(ending.size() - z.avail_out);
  deflateEnd(&z);

  std::string extra = "RA";
  put_le16(extra, static_cast<unsigned>(6 + 2 * chunks.size()));
  put_le16(extra, 1);
  put_le16(extra, chunk_length);
  put_le16(extra, static_cast<unsigned>(chunks.size()));
  for (const auto& chunk : chunks) put_le16(extra, static_cast<unsigned>(chunk.size()));
  std::string out("\x1f\x8b\x08", 3);
  out += static_cast<char>(4 | (with_name ? 8 | 16 : 0));
  out += std::string(4, '\0');
  out += '\x02';
  out += '\x03';
  put_le16(out, static_cast<unsigned>(extra.size()));
  out += extra;
  if (with_name) {
    out += std::string("words.dict") + '\0';
    out += std::string("made for a test") + '\0';
  }
  for (const auto& chunk : chunks) out += chunk;
  out += ending;
  put_le32(out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                                 static_cast<uInt>(content.size()))));
  put_le32(out, static_cast<std::uint32_t>(content.size()));
  return out;
}

std::string dictd_number(std::uint64_t value) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value % 64]);
    value /= 64;
  } while (value > 0);
  return out;
}

DictdFiles dictd_files(const std::vector<DictdEntry>& articles, std::string_view short_name, std::string_view info,
                       std::string_view url) {
  DictdFiles files;
  std::vector<std::pair<std::string, std::string>> lines;  // headword, offset and length
  auto add = [&](const std::vector<std::string>& headwords, std::string_view text) {
    const std::uint64_t offset = files.dict.size();
    files.dict += text;
    for (const auto& headword : headwords) {
      lines.emplace_back(headword, dictd_number(offset) + "\t" + dictd_number(text.size()));
    }
  };
  if (!short_name.empty()) add({"00-database-short"}, "00-database-short\n     " + std::string(short_name) + "\n");
  if (!info.empty()) add({"00-database-info"}, info);
  if (!url.empty()) add({"00-database-url"}, std::string(url) + "\n");
  add({"00-database-utf8"}, "\n");
  for (const auto& article : articles) add(article.headwords, article.text);
  std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [headword, place] : lines) files.index += headword + "\t" + place + "\n";
  return files;
}

std::string stardict_text_field(char type, std::string_view text) {
  std::string out(1, type);
  out += text;
  out += '\0';
  return out;
}

std::string stardict_data_field(char type, std::string_view data) {
  std::string out(1, type);
  put_be(out, data.size(), 4);
  out += data;
  return out;
}

StarDictFiles stardict_files(std::vector<StarDictWord> words, const StarDictOptions& options) {
  std::stable_sort(words.begin(), words.end(),
                   [](const StarDictWord& a, const StarDictWord& b) { return stardict_less(a.word, b.word); });
  StarDictFiles files;
  std::vector<std::pair<std::string, std::uint32_t>> synonyms;
  for (std::uint32_t i = 0; i < words.size(); ++i) {
    files.idx += words[i].word;
    files.idx += '\0';
    put_be(files.idx, files.dict.size(), options.offset64 ? 8 : 4);
    put_be(files.idx, words[i].data.size(), 4);
    files.dict += words[i].data;
    for (const auto& synonym : words[i].synonyms) synonyms.emplace_back(synonym, i);
  }
  std::stable_sort(synonyms.begin(), synonyms.end(),
                   [](const auto& a, const auto& b) { return stardict_less(a.first, b.first); });
  for (const auto& [word, index] : synonyms) {
    files.syn += word;
    files.syn += '\0';
    put_be(files.syn, index, 4);
  }
  files.ifo = "StarDict's dict ifo file\nversion=" + std::string(options.offset64 ? "3.0.0" : "2.4.2") + "\n";
  files.ifo += "bookname=" + options.bookname + "\n";
  files.ifo += "wordcount=" + std::to_string(words.size()) + "\n";
  if (!synonyms.empty()) files.ifo += "synwordcount=" + std::to_string(synonyms.size()) + "\n";
  files.ifo += "idxfilesize=" + std::to_string(files.idx.size()) + "\n";
  if (options.offset64) files.ifo += "idxoffsetbits=64\n";
  if (!options.sametypesequence.empty()) files.ifo += "sametypesequence=" + options.sametypesequence + "\n";
  files.ifo += options.extra_ifo;
  return files;
}

std::string encoded(std::string_view utf8, std::string_view encoding) {
  if (encoding == "UTF-8") return std::string(utf8);
  const iconv_t conversion = iconv_open(std::string(encoding).c_str(), "UTF-8");
  if (conversion == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open");
  std::string out(utf8.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* at = out.data();
  std::size_t out_left = out.size();
  const std::size_t status = iconv(conversion, &in, &in_left, &at, &out_left);
  iconv_close(conversion);
  if (status == static_cast<std::size_t>(-1)) throw std::runtime_error("iconv");
  out.resize(out.size() - out_left);
  return out;
}

std::string mdict_block(std::string_view content, int compression) {
  std::string out;
  put_le32(out, static_cast<std::uint32_t>(compression));
  put_be(out, adler(content), 4);
  out += compression == 0 ? std::string(content) : compression == 1 ? lzo_bytes(content) : zlib_bytes(content);
  return out;
}

std::string mdict_bytes(const std::vector<MdictEntry>& entries, const MdictOptions& options) {
  const bool v2 = options.version >= 2;
  const int width = v2 ? 8 : 4;
  const std::string iconv_encoding = options.encoding == "UTF-16" ? "UTF-16LE" : options.encoding == "Big5" ? "BIG5" : options.encoding;
  const std::size_t unit = options.encoding == "UTF-16" ? 2 : 1;
  const std::string terminator(unit, '\0');
  std::string out;
  // Header.
  const std::string xml = "<Dictionary GeneratedByEngineVersion=\"" + std::string(v2 ? "2.0" : "1.2") +
                          "\" RequiredEngineVersion=\"" + std::string(v2 ? "2.0" : "1.2") + "\" Encrypted=\"" +
                          std::to_string(options.encrypted) + "\" Encoding=\"" + options.encoding + "\" Format=\"" +
                          options.format + "\" KeyCaseSensitive=\"No\" Description=\"" + options.description +
                          "\" Title=\"" + options.title + "\"/>\r\n";
  const std::string header = encoded(xml, "UTF-16LE");
  put_be(out, header.size(), 4);
  out += header;
  put_le32(out, adler(header));
  // Records: each one's text and terminator, in record blocks.
  std::vector<std::string> records;
  std::vector<std::uint64_t> offsets;
  std::uint64_t offset = 0;
  for (const auto& entry : entries) {
    records.push_back(encoded(entry.record, iconv_encoding) + terminator);
    offsets.push_back(offset);
    offset += records.back().size();
  }
  // Key blocks and the key index.
  std::string key_index;
  std::string key_blocks;
  std::size_t key_block_count = 0;
  for (std::size_t first = 0; first < entries.size(); first += options.per_key_block) {
    const std::size_t end = std::min(entries.size(), first + options.per_key_block);
    std::string block;
    for (std::size_t i = first; i < end; ++i) {
      put_be(block, offsets[i], width);
      block += encoded(entries[i].key, iconv_encoding) + terminator;
    }
    const std::string wrapped = mdict_block(block, options.compression);
    key_blocks += wrapped;
    put_be(key_index, end - first, width);
    for (const std::size_t edge : {first, end - 1}) {
      const std::string key = encoded(entries[edge].key, iconv_encoding);
      put_be(key_index, key.size() / unit, v2 ? 2 : 1);
      key_index += key;
      if (v2) key_index += terminator;
    }
    put_be(key_index, wrapped.size(), width);
    put_be(key_index, block.size(), width);
    ++key_block_count;
  }
  std::string index_bytes = key_index;
  if (v2) {
    index_bytes = mdict_block(key_index, options.compression);
    if (options.encrypted & 2) {
      std::string payload = index_bytes.substr(8);
      ruvo::desktop::readers::mdict_encrypt(payload,
                                            ruvo::desktop::readers::mdict_index_key(std::string_view(index_bytes).substr(4, 4)));
      index_bytes = index_bytes.substr(0, 8) + payload;
    }
  }
  std::string keyword_head;
  put_be(keyword_head, key_block_count, width);
  put_be(keyword_head, entries.size(), width);
  if (v2) put_be(keyword_head, key_index.size(), width);
  put_be(keyword_head, index_bytes.size(), width);
  put_be(keyword_head, key_blocks.size(), width);
  out += keyword_head;
  if (v2) put_be(out, adler(keyword_head), 4);
  out += index_bytes;
  out += key_blocks;
  // The record section.
  std::vector<std::pair<std::string, std::uint64_t>> record_blocks;
  for (std::size_t first = 0; first < records.size(); first += options.per_record_block) {
    std::string block;
    for (std::size_t i = first; i < std::min(records.size(), first + options.per_record_block); ++i) block += records[i];
    record_blocks.emplace_back(mdict_block(block, options.compression), block.size());
  }
  std::uint64_t total = 0;
  for (const auto& block : record_blocks) total += block.first.size();
  put_be(out, record_blocks.size(), width);
  put_be(out, entries.size(), width);
  put_be(out, record_blocks.size() * 2 * width, width);
  put_be(out, total, width);
  for (const auto& block : record_blocks) {
    put_be(out, block.first.size(), width);
    put_be(out, block.second, width);
  }
  for (const auto& block : record_blocks) out += block.first;
  return out;
}

}  // namespace ruvo::test
