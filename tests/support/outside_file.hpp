// A file outside the folder under test, for tests that put a symbolic link
// to it in that folder: code that must not follow the link has to leave the
// file exactly as it was, or absent when it was absent.
#pragma once

#include "support/temp_dir.hpp"

#include <string>
#include <string_view>

namespace ruvo::test {

class OutsideFile {
 public:
  // A file of its own temporary folder with `content` and `mode`; with
  // `exists` false only its path is chosen, and it must stay absent.
  explicit OutsideFile(bool exists = true, std::string_view content = "not the service's file\n",
                       unsigned mode = 0644);

  const std::string& path() const { return path_; }

  // Puts a symbolic link to this file at `link`; a failure fails the
  // current test.
  void link_from(const std::string& link) const;

  // What is no longer as it was made (content, mode, being there at all),
  // in words; empty when nothing changed.
  std::string changes() const;

 private:
  TempDir dir_;
  std::string path_;
  bool exists_;
  std::string content_;
  unsigned mode_;
};

}  // namespace ruvo::test
