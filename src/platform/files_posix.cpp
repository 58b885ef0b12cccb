// POSIX implementation of files.hpp: the local service's private files,
// none of them opened through a symbolic link.
#include "platform/files.hpp"

#include "platform/posix_error.hpp"

#include <cerrno>
#include <cstdlib>

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

Error symbolic_link_error(const std::string& path) {
  return common::failure(path + " is a symbolic link, which is not followed");
}

std::string octal(unsigned mode) {
  std::string digits;
  for (int shift = 9; shift >= 0; shift -= 3) digits.push_back(static_cast<char>('0' + ((mode >> shift) & 7u)));
  return digits;
}

// Makes the file open on `fd` 0600, on the descriptor itself, and gives its
// size. Refuses what is not a regular file: a device or a pipe put there is
// nothing to keep data in.
Result<std::uint64_t> make_descriptor_private(int fd, const std::string& path) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno_error("stat " + path, errno);
  if (!S_ISREG(st.st_mode)) return common::failure(path + " is not a regular file");
  if ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) return errno_error("chmod " + path, errno);
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace

Error open_error(const std::string& path, int code) {
  if (code == ELOOP && is_symbolic_link(path)) return symbolic_link_error(path);
  return errno_error("open " + path, code);
}

Result<void> write_file_atomically(const std::string& path, std::string_view content) {
  std::string temp = path + ".tmp-" + std::to_string(::getpid());
  ::unlink(temp.c_str());  // a leftover of a killed process with our pid (a link there is removed, not followed)
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return open_error(temp, errno);
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
  // O_NONBLOCK: a pipe put at the path must not hold us up; it is refused below.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return open_error(path, errno);
  auto made = make_descriptor_private(fd, path);
  ::close(fd);
  if (!made) return made.error();
  return {};
}

Result<void> set_file_mode(const std::string& path, unsigned mode) {
  // glibc carries this out on an O_PATH descriptor of the file itself: it
  // refuses a link (EOPNOTSUPP) and, not being open for reading or writing,
  // its closing drops no lock.
  if (::fchmodat(AT_FDCWD, path.c_str(), static_cast<mode_t>(mode), AT_SYMLINK_NOFOLLOW) != 0) {
    int code = errno;
    if (is_symbolic_link(path)) return symbolic_link_error(path);
    return errno_error("chmod " + path, code);
  }
  return {};
}

Result<bool> make_private_folder(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno_error("open " + path, errno);
  struct stat st {};
  bool wider = false;
  int code = 0;
  if (::fstat(fd, &st) != 0) {
    code = errno;
  } else if ((st.st_mode & 077) != 0) {
    wider = true;
    if (::fchmod(fd, 0700) != 0) code = errno;
  }
  ::close(fd);
  if (code != 0) return errno_error("chmod " + path, code);
  return wider;
}

Result<std::string> real_path(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return errno_error("resolve " + path, errno);
  std::string out(resolved);
  std::free(resolved);
  return out;
}

bool is_symbolic_link(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

Result<std::optional<OwnedFile>> read_owned_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::optional<OwnedFile>();
    return errno_error("open " + path, errno);
  }
  struct stat st {};
  auto refuse = [fd](Error error) {
    ::close(fd);
    return Result<std::optional<OwnedFile>>(std::move(error));
  };
  if (::fstat(fd, &st) != 0) return refuse(errno_error("stat " + path, errno));
  if (!S_ISREG(st.st_mode)) return refuse(common::failure(path + " is not a regular file"));
  if (st.st_uid != ::geteuid()) {
    return refuse(common::failure(path + " belongs to user " + std::to_string(st.st_uid) + ", not to the user " +
                                  std::to_string(::geteuid()) + " running this service"));
  }
  if ((st.st_mode & 022) != 0) {
    return refuse(common::failure(path + " may be written by group or others (mode " +
                                  octal(static_cast<unsigned>(st.st_mode & 07777)) + ")"));
  }
  OwnedFile file;
  if ((st.st_mode & 077) != 0) {
    file.readable_by_others = true;
    if (::fchmod(fd, st.st_mode & 0700) != 0) file.made_private = errno_error("chmod " + path, errno);
  }
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return refuse(errno_error("read " + path, errno));
    }
    if (n == 0) break;
    file.content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return std::optional<OwnedFile>(std::move(file));
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

Result<AppendFile> AppendFile::open(const std::string& path) {
  AppendFile file;
  // O_NONBLOCK: opening a pipe put at the path would wait for a reader; it
  // fails instead, or is refused as no regular file.
  file.fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (file.fd_ < 0) return open_error(path, errno);
  auto size = make_descriptor_private(file.fd_, path);
  if (!size) return size.error();  // the descriptor closes with `file`
  file.size_ = *size;
  return file;
}

bool AppendFile::append(std::string_view bytes) {
  if (fd_ < 0) return false;
  if (!write_all(fd_, bytes)) return false;
  size_ += bytes.size();
  return true;
}

Result<void> remove_file(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return {};
  return errno_error("remove " + path, errno);
}

Result<void> rename_file(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return {};
  return errno_error("rename " + from, errno);
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

std::optional<FileStamp> file_stamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<std::uint64_t>(st.st_size),
                   static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
                   static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace ruvo::platform
