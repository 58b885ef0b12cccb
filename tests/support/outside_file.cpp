#include "support/outside_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace ruvo::test {

OutsideFile::OutsideFile(bool exists, std::string_view content, unsigned mode)
    : dir_("ruvo-outside-"), path_(dir_.file("target")), exists_(exists), content_(content), mode_(mode) {
  if (!exists_ || dir_.path().empty()) return;
  std::ofstream out(path_, std::ios::binary);
  out << content_;
  out.close();
  if (!out || ::chmod(path_.c_str(), mode_) != 0) ADD_FAILURE() << "cannot make " << path_;
}

void OutsideFile::link_from(const std::string& link) const {
  if (::symlink(path_.c_str(), link.c_str()) != 0) {
    ADD_FAILURE() << "cannot link " << link << " to " << path_ << ": " << std::strerror(errno);
  }
}

std::string OutsideFile::changes() const {
  struct stat st {};
  if (::lstat(path_.c_str(), &st) != 0) return exists_ ? path_ + " is gone" : std::string();
  if (!exists_) return path_ + " was created";
  std::ostringstream out;
  if (!S_ISREG(st.st_mode)) out << path_ << " is no longer a regular file; ";
  if ((st.st_mode & 07777) != mode_) out << "mode " << std::oct << (st.st_mode & 07777) << " instead of " << mode_ << "; ";
  std::ifstream in(path_, std::ios::binary);
  std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (now != content_) out << "content \"" << now << "\" instead of \"" << content_ << "\"";
  return out.str();
}

}  // namespace ruvo::test
