// Random access to a dictionary file's bytes: a file on disk, bytes in memory (tests and fuzzers),
// or the uncompressed content of a dictzip or gzip file (dictzip.hpp, gzip.hpp) behind the same
// interface, so each reader is written once against ByteSource.
#pragma once

#include "common/result.hpp"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace ruvo::desktop::readers {

using common::Result;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The number of bytes.
  virtual std::uint64_t size() const = 0;
  // Exactly `length` bytes from `offset`; an error naming the file when they run past size() or
  // cannot be read. Readers ask mostly in increasing order, which the compressed sources make cheap.
  virtual Result<std::string> read(std::uint64_t offset, std::size_t length) = 0;
  // After everything was read: checks what only the whole file can show (a gzip file's CRC-32 and
  // length). Nothing to check for a plain file.
  virtual Result<void> finish() { return {}; }
  // The file name shown in messages (the last part of the path).
  virtual const std::string& name() const = 0;
};

// The bytes of a string, named `name` in messages.
class MemoryBytes : public ByteSource {
 public:
  MemoryBytes(std::string bytes, std::string name) : bytes_(std::move(bytes)), name_(std::move(name)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  Result<std::string> read(std::uint64_t offset, std::size_t length) override;
  const std::string& name() const override { return name_; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::string name_;
};

// A file on disk, opened once and read with seeks.
class FileBytes : public ByteSource {
 public:
  // Opens the file; the error says why it cannot be read.
  static Result<std::unique_ptr<FileBytes>> open(const std::string& path);
  ~FileBytes() override;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  std::uint64_t size() const override { return size_; }
  Result<std::string> read(std::uint64_t offset, std::size_t length) override;
  const std::string& name() const override { return name_; }

 private:
  FileBytes(std::FILE* file, std::uint64_t size, std::string name) : file_(file), size_(size), name_(std::move(name)) {}
  std::FILE* file_;
  std::uint64_t size_;
  std::string name_;
};

// The last part of a path ("foldoc.dict.dz" of "/usr/share/dictd/foldoc.dict.dz").
std::string file_name_of(std::string_view path);

// "{name} 的内容不完整：需要第 {offset} 字节起的 {length} 字节，文件只有 {size} 字节"
common::Error past_end(const std::string& name, std::uint64_t offset, std::uint64_t length, std::uint64_t size);

}  // namespace ruvo::desktop::readers
