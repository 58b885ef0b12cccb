// POSIX implementation of the file functions of server.hpp: the local
// service's private files.
#include "platform/posix_error.hpp"
#include "platform/server.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ruvo::platform {

namespace {

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string parent_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

Result<void> write_file_atomically(const std::string& path, std::string_view content) {
  std::string temp = path + ".tmp-" + std::to_string(::getpid());
  ::unlink(temp.c_str());  // a leftover of a killed process with our pid
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno_error("open " + temp, errno);
  if (!write_all(fd, content) || ::fsync(fd) != 0) {
    int code = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    return errno_error("write " + temp, code);
  }
  ::close(fd);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int code = errno;
    ::unlink(temp.c_str());
    return errno_error("rename " + temp, code);
  }
  // Make the rename itself durable; a failure here loses nothing readers see.
  int dir_fd = ::open(parent_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    ::fsync(dir_fd);
    ::close(dir_fd);
  }
  return {};
}

Result<void> make_private_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return errno_error("open " + path, errno);
  int rc = ::fchmod(fd, 0600);
  int code = errno;
  ::close(fd);
  if (rc != 0) return errno_error("chmod " + path, code);
  return {};
}

AppendFile::AppendFile(AppendFile&& other) noexcept : fd_(other.fd_), size_(other.size_) { other.fd_ = -1; }

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    size_ = other.size_;
    other.fd_ = -1;
  }
  return *this;
}

AppendFile::~AppendFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<AppendFile> AppendFile::open(const std::string& path) {
  AppendFile file;
  file.fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (file.fd_ < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(file.fd_, &st) != 0) return std::nullopt;
  if ((st.st_mode & 077) != 0 && ::fchmod(file.fd_, 0600) != 0) return std::nullopt;
  file.size_ = static_cast<std::uint64_t>(st.st_size);
  return file;
}

bool AppendFile::append(std::string_view bytes) {
  if (fd_ < 0) return false;
  if (!write_all(fd_, bytes)) return false;
  size_ += bytes.size();
  return true;
}

Result<void> set_file_mode(const std::string& path, unsigned mode) {
  if (::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) return errno_error("chmod " + path, errno);
  return {};
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

bool rename_file(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<std::uint64_t> file_size(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<unsigned> file_mode(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<unsigned>(st.st_mode & 07777);
}

}  // namespace ruvo::platform
