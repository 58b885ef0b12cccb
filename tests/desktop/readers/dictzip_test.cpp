// dictzip random access and plain gzip streams, sound and broken.
#include "readers/dictzip.hpp"

#include "desktop/readers/writers.hpp"
#include "readers/gzip.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace ruvo::test {
namespace {

using desktop::readers::ByteSource;
using desktop::readers::MemoryBytes;
using desktop::readers::open_compressed;

// Text that does not repeat within a chunk, so each chunk compresses differently.
std::string sample(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i * 7919 % 100003) + " of the sample\n";
  text.resize(size);
  return text;
}

std::unique_ptr<ByteSource> opened(std::string bytes, std::string* error = nullptr) {
  auto source = open_compressed(std::make_unique<MemoryBytes>(std::move(bytes), "words.dict.dz"));
  if (!source) {
    if (error != nullptr) *error = source.error().message;
    return nullptr;
  }
  return std::move(*source);
}

TEST(DictzipTest, ReadsAnyOffsetThroughItsChunk) {
  const std::string content = sample(10000);
  for (const bool with_name : {false, true}) {
    auto source = opened(dictzip_bytes(content, 4096, with_name));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->size(), content.size());
    // In the middle chunk, across the chunk boundaries, backwards, at the very end.
    for (const auto& [offset, length] : std::vector<std::pair<std::size_t, std::size_t>>{
             {5000, 100}, {4000, 200}, {100, 9000}, {8190, 4}, {9990, 10}, {0, 0}, {10000, 0}}) {
      auto bytes = source->read(offset, length);
      ASSERT_TRUE(bytes.ok()) << bytes.error().message;
      EXPECT_EQ(*bytes, content.substr(offset, length)) << offset;
    }
    EXPECT_FALSE(source->read(9990, 11).ok());
    EXPECT_TRUE(source->finish().ok());
  }
}

TEST(DictzipTest, PlainGzipIsReadForwardAndAgainFromTheStart) {
  const std::string content = sample(200000);
  auto source = opened(gzip_bytes(content, "words.dict"));
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->size(), content.size());
  for (const auto& [offset, length] : std::vector<std::pair<std::size_t, std::size_t>>{
           {10, 20}, {150000, 5000}, {40, 100000}, {199990, 10}}) {
    auto bytes = source->read(offset, length);
    ASSERT_TRUE(bytes.ok()) << bytes.error().message;
    EXPECT_EQ(*bytes, content.substr(offset, length));
  }
  EXPECT_TRUE(source->finish().ok());
}

TEST(DictzipTest, BrokenFilesAreRefusedWithTheReason) {
  const std::string content = sample(10000);  // chunks of 4096: three chunks
  const std::string good = dictzip_bytes(content, 4096);
  // The compressed size of each chunk, from the header: the third starts after the first two.
  auto le16 = [&](std::size_t at) { return static_cast<std::size_t>(static_cast<unsigned char>(good[at])) |
                                           static_cast<std::size_t>(static_cast<unsigned char>(good[at + 1])) << 8; };
  const std::size_t data_start = 12 + le16(10);
  const std::size_t third = data_start + le16(22) + le16(24);
  struct Case {
    const char* name;
    std::string bytes;
    const char* at_open;  // the error when opening, or nullptr
    const char* at_read;  // the error reading everything and finishing, or nullptr
  };
  std::string flipped_chunk = good;
  flipped_chunk[third + 3] = static_cast<char>(flipped_chunk[third + 3] ^ 0x55);
  std::string bad_crc = good;
  bad_crc[bad_crc.size() - 6] = static_cast<char>(bad_crc[bad_crc.size() - 6] ^ 1);
  std::string bad_length = good;
  bad_length[bad_length.size() - 4] = static_cast<char>(bad_length[bad_length.size() - 4] + 1);
  std::string bad_version = good;
  bad_version[16] = 2;
  std::string short_table = good;
  short_table[20] = 9;  // CHCNT 9, with 3 sizes in the field
  std::string zero_length = good;
  zero_length[18] = 0;
  zero_length[19] = 0;
  const std::vector<Case> cases = {
      {"cut in the third chunk", good.substr(0, third + 5), "在第 3 块被截断", nullptr},
      {"cut in the header", good.substr(0, 15), "扩展字段不完整", nullptr},
      {"not gzip", "plain text, not compressed", "开头不是 gzip 标记", nullptr},
      {"a damaged chunk", flipped_chunk, nullptr, "第 3 块"},
      {"a wrong CRC-32", bad_crc, nullptr, "CRC-32 校验和不符"},
      {"a length past what the chunks hold", bad_length, nullptr, "在第 3 块被截断"},
      {"a table version other than 1", bad_version, "版本 2 不支持", nullptr},
      {"more chunks than sizes", short_table, "随机访问表比块数短", nullptr},
      {"a chunk length of 0", zero_length, "分块长度为 0", nullptr},
      {"bytes after the last chunk", good.substr(0, good.size() - 8) + std::string(100, 'x') + good.substr(good.size() - 8),
       "末尾有多余的数据", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    auto source = opened(c.bytes, &error);
    if (c.at_open != nullptr) {
      EXPECT_EQ(source, nullptr);
      EXPECT_NE(error.find(c.at_open), std::string::npos) << error;
      EXPECT_EQ(error.rfind("words.dict.dz", 0), 0u) << error;
      continue;
    }
    ASSERT_NE(source, nullptr) << error;
    auto all = source->read(0, static_cast<std::size_t>(source->size()));
    std::string read_error = all ? "" : all.error().message;
    if (all) {
      auto finished = source->finish();
      read_error = finished ? "" : finished.error().message;
    }
    EXPECT_NE(read_error.find(c.at_read), std::string::npos) << read_error;
  }
}

TEST(DictzipTest, PlainGzipWithAWrongCrcFailsAtTheEnd) {
  std::string bytes = gzip_bytes(sample(3000));
  bytes[bytes.size() - 8] = static_cast<char>(bytes[bytes.size() - 8] ^ 1);
  auto source = opened(bytes);
  ASSERT_NE(source, nullptr);
  ASSERT_TRUE(source->read(0, 3000).ok());
  auto finished = source->finish();
  ASSERT_FALSE(finished.ok());
  EXPECT_NE(finished.error().message.find("CRC-32"), std::string::npos);
  // Cut short: the reads past what is there fail.
  auto cut = opened(gzip_bytes(sample(30000)).substr(0, 200));
  ASSERT_NE(cut, nullptr);
  EXPECT_FALSE(cut->read(0, 30000).ok());
}

TEST(DictzipTest, WholeGzipFilesAreCheckedAndBounded) {
  const std::string content = sample(5000);
  auto whole = desktop::readers::gunzip_all(gzip_bytes(content) + gzip_bytes("more"), "x.gz", 1 << 20);
  ASSERT_TRUE(whole.ok()) << whole.error().message;
  EXPECT_EQ(*whole, content + "more");
  EXPECT_FALSE(desktop::readers::gunzip_all(gzip_bytes(content), "x.gz", 4000).ok());
  EXPECT_FALSE(desktop::readers::gunzip_all(gzip_bytes(content).substr(0, 100), "x.gz", 1 << 20).ok());
  EXPECT_FALSE(desktop::readers::gunzip_all(gzip_bytes(content) + "junk", "x.gz", 1 << 20).ok());
}

}  // namespace
}  // namespace ruvo::test
