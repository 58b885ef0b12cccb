#include "support/temp_dir.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "support/process.hpp"

namespace ruvo::test {
namespace {

bool current_test_failed() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return info != nullptr && info->result() != nullptr && info->result()->Failed();
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Copies a file with its permission bits. The descriptors are close-on-exec:
// a copy still open for writing in a child that another thread starts would
// make executing it fail with ETXTBSY.
std::string copy_file(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return "cannot open " + from + ": " + std::strerror(errno);
  struct stat info {};
  ::fstat(in, &info);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 07777);
  if (out < 0) {
    const std::string problem = "cannot create " + to + ": " + std::strerror(errno);
    ::close(in);
    return problem;
  }
  std::string problem;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) problem = "cannot read " + from + ": " + std::strerror(errno);
    if (n <= 0) break;
    if (!write_all(out, std::string_view(buffer, static_cast<std::size_t>(n)))) {
      problem = "cannot write " + to + ": " + std::strerror(errno);
      break;
    }
  }
  ::fchmod(out, info.st_mode & 07777);
  if (::close(out) != 0 && problem.empty()) problem = "cannot write " + to + ": " + std::strerror(errno);
  ::close(in);
  return problem;
}

}  // namespace

TempDir::TempDir(std::string_view name) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + std::string(name) + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a temporary folder from " << pattern << ": " << std::strerror(errno);
    return;
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  if (current_test_failed()) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "[temp] kept %s for the failed test %s.%s\n", path_.c_str(), info->test_suite_name(),
                 info->name());
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

const std::string& TempDir::path() const { return path_; }

std::string TempDir::file(std::string_view name) const { return path_ + "/" + std::string(name); }

std::string AppDataDir::desktop_folder() const {
  const std::string folder = file("com.corvanta.desktop");
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return folder;
}

std::string AppDataDir::discovery_path() const { return desktop_folder() + "/explain.json"; }

void AppDataDir::write_discovery(std::string_view text) const {
  const std::string target = discovery_path();
  const std::string temporary = target + ".tmp";
  std::string problem;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    problem = std::strerror(errno);
  } else {
    if (!write_all(fd, text)) problem = std::strerror(errno);
    if (::close(fd) != 0 && problem.empty()) problem = std::strerror(errno);
    if (problem.empty() && ::rename(temporary.c_str(), target.c_str()) != 0) problem = std::strerror(errno);
  }
  if (!problem.empty()) ADD_FAILURE() << "cannot write the discovery file " << target << ": " << problem;
}

void AppDataDir::write_discovery(uint16_t port, std::string_view token, std::string_view version) const {
  nlohmann::json object = {{"port", port}, {"token", std::string(token)}, {"version", std::string(version)}};
  write_discovery(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

// No dictionary of this machine reaches a test's store: the places a service looks in are none, for
// every program a test starts (they inherit it) and for the tests themselves.
[[maybe_unused]] const bool kNoSystemDictionaries = ::setenv("RUVO_DICTIONARY_DIRS", "", 1) == 0;

std::map<std::string, std::string> AppDataDir::env() const {
  return {{"APPDATA", path()}, {"RUVO_DICTIONARY_DIRS", ""}};
}

ProgramDir::ProgramDir(std::vector<std::pair<std::string, std::string>> extra, std::string_view folder_name)
    : TempDir(folder_name) {
  if (path().empty()) return;
  const std::string source = ruvo_program();
  if (source.empty()) {
    ADD_FAILURE() << "RUVO_TEST_PROGRAM is not set: nothing to copy into the program folder";
  } else {
    ruvo_ = file(std::filesystem::path(source).filename().string());
    const std::string problem = copy_file(source, ruvo_);
    if (!problem.empty()) ADD_FAILURE() << problem;
  }
  for (const auto& [name, from] : extra) {
    if (from.empty()) {
      ADD_FAILURE() << "no source program for " << name << " (is its RUVO_TEST_ variable set?)";
      continue;
    }
    const std::string problem = copy_file(from, file(name));
    if (!problem.empty()) ADD_FAILURE() << problem;
  }
}

std::string ProgramDir::ruvo() const { return ruvo_; }

}  // namespace ruvo::test
