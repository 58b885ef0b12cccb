// ensure_service with the program to start given (ruvo-gui.exe --open starts
// itself): a start that fails says why, in the system's words and with the
// kind kNotStarted, so a caller tells it from a service that never answered.
#include "client/launcher.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

namespace ruvo::client {
namespace {

// APPDATA pointed at a folder for the test's length, then put back.
class AppDataFor {
 public:
  explicit AppDataFor(const std::string& folder) {
    if (const char* old = std::getenv("APPDATA")) before_ = old;
    ::setenv("APPDATA", folder.c_str(), 1);
  }
  ~AppDataFor() {
    if (before_) {
      ::setenv("APPDATA", before_->c_str(), 1);
    } else {
      ::unsetenv("APPDATA");
    }
  }
  AppDataFor(const AppDataFor&) = delete;
  AppDataFor& operator=(const AppDataFor&) = delete;

 private:
  std::optional<std::string> before_;
};

TEST(EnsureServiceTest, AGivenProgramThatCannotStartGivesTheSystemsReason) {
  test::TempDir appdata;
  AppDataFor env(appdata.path());
  const std::string not_a_program = appdata.file("not-a-program");
  std::ofstream(not_a_program) << "not a program";
  ASSERT_EQ(::chmod(not_a_program.c_str(), 0644), 0);
  struct Case {
    const char* what;
    std::string program;
    std::string text;
  };
  const Case cases[] = {
      {"not executable", not_a_program, "Permission denied (os error 13)"},
      {"not there", appdata.file("no-such-program"), "No such file or directory (os error 2)"},
  };
  for (const auto& c : cases) {
    auto info = ensure_service(c.program);
    ASSERT_FALSE(info.ok()) << c.what;
    EXPECT_EQ(info.error().kind, common::ErrorKind::kNotStarted) << c.what;
    EXPECT_EQ(info.error().text(), c.text) << c.what;
  }
}

}  // namespace
}  // namespace ruvo::client
