// A file read through memory: its bytes as a view, paged in as they are read
// and dropped by the system as it needs the room, so a big file (an upload
// to import) costs no memory of the process's own. mapped_file_posix.cpp
// implements it.
#pragma once

#include "common/result.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace ruvo::platform {

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // Maps the whole of a regular file, read-only, for reading from start to
  // end; a link at the path is refused, as is anything but a regular file.
  // The file must not shrink while it is mapped: only its owner's folder
  // should hold it.
  static common::Result<MappedFile> open(const std::string& path);

  std::string_view bytes() const { return {static_cast<const char*>(data_), size_}; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace ruvo::platform
