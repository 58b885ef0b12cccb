// POSIX implementation of mapped_file.hpp: mmap of a descriptor opened
// without following a link.
#include "platform/mapped_file.hpp"

#include "platform/posix_error.hpp"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ruvo::platform {

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) ::munmap(data_, size_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

common::Result<MappedFile> MappedFile::open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return open_error(path, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int code = errno;
    ::close(fd);
    return errno_error("stat " + path, code);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return common::failure(path + " is not a regular file");
  }
  MappedFile mapped;
  if (st.st_size > 0) {
    void* data = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
      const int code = errno;
      ::close(fd);
      return errno_error("mmap " + path, code);
    }
    mapped.data_ = data;
    mapped.size_ = static_cast<std::size_t>(st.st_size);
    // Read once from start to end: pages behind the reader may go.
    ::madvise(data, mapped.size_, MADV_SEQUENTIAL);
  }
  ::close(fd);  // the mapping keeps the file
  return mapped;
}

}  // namespace ruvo::platform
