// Plain files and bytes in memory as ByteSources.
#include "readers/byte_source.hpp"

#include <cerrno>
#include <cstring>

namespace ruvo::desktop::readers {

std::string file_name_of(std::string_view path) {
  const auto slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

common::Error past_end(const std::string& name, std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return common::failure(name + " 被截断或偏移量有误：需要第 " + std::to_string(offset) + " 字节起的 " +
                         std::to_string(length) + " 字节，内容只有 " + std::to_string(size) + " 字节");
}

Result<std::string> MemoryBytes::read(std::uint64_t offset, std::size_t length) {
  if (offset > bytes_.size() || length > bytes_.size() - offset) return past_end(name_, offset, length, bytes_.size());
  return bytes_.substr(static_cast<std::size_t>(offset), length);
}

Result<std::unique_ptr<FileBytes>> FileBytes::open(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    const int code = errno;
    return common::Error{"无法打开 " + path + "：" + std::strerror(code), code};
  }
  // The size through the standard library alone: seek to the end (64-bit offsets on the systems the
  // service runs on).
  if (std::fseek(file, 0, SEEK_END) != 0) {
    const int code = errno;
    std::fclose(file);
    return common::Error{"无法读取 " + path + "：" + std::strerror(code), code};
  }
  const long end = std::ftell(file);
  if (end < 0) {
    const int code = errno;
    std::fclose(file);
    return common::Error{"无法读取 " + path + "（它是文件夹吗？）", code};
  }
  return std::unique_ptr<FileBytes>(new FileBytes(file, static_cast<std::uint64_t>(end), file_name_of(path)));
}

FileBytes::~FileBytes() { std::fclose(file_); }

Result<std::string> FileBytes::read(std::uint64_t offset, std::size_t length) {
  if (offset > size_ || length > size_ - offset) return past_end(name_, offset, length, size_);
  std::string out(length, '\0');
  if (length == 0) return out;
  if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0 || std::fread(out.data(), 1, length, file_) != length) {
    const int code = errno;
    return common::Error{"读取 " + name_ + " 失败", code};
  }
  return out;
}

}  // namespace ruvo::desktop::readers
