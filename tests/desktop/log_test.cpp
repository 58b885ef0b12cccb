#include "log.hpp"

#include "platform/platform.hpp"
#include "platform/server.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace ruvo::desktop {
namespace {

TEST(LogTest, AppendsOneLinePerMessageInAPrivateFile) {
  test::TempDir dir;
  Log log(dir.file("ruvo-gui.log"));
  log.write("first");
  log.write("second\nstill second\r");
  auto text = platform::read_file(log.path());
  ASSERT_TRUE(text);
  EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), 2) << *text;
  EXPECT_NE(text->find(" first\n"), std::string::npos) << *text;
  EXPECT_NE(text->find(" second still second \n"), std::string::npos) << *text;
  EXPECT_EQ(platform::file_mode(log.path()), 0600u);
}

TEST(LogTest, RotatesBeforeTheFilePassesItsBound) {
  test::TempDir dir;
  constexpr std::uint64_t kBound = 1000;
  Log log(dir.file("ruvo-gui.log"), kBound);
  log.write("started, pid 42");
  log.set_rotation_heading("running, pid 42");
  std::string message(80, 'm');
  for (int i = 0; i < 100; ++i) log.write(message + std::to_string(i));
  auto current = platform::file_size(log.path());
  auto previous = platform::file_size(log.path() + ".1");
  ASSERT_TRUE(current && previous);
  EXPECT_LE(*current, kBound);
  EXPECT_LE(*previous, kBound);
  // The newest line is in the current file, older ones went to ".1".
  EXPECT_NE(platform::read_file(log.path()).value_or("").find(message + "99\n"), std::string::npos);
  EXPECT_FALSE(platform::file_size(log.path() + ".2").has_value());
  // Each file begun by rotation opens with the heading, so the process id
  // is still on record once the first line is gone.
  for (const auto& path : {log.path(), log.path() + ".1"}) {
    auto text = platform::read_file(path).value_or("");
    EXPECT_EQ(text.find(" running, pid 42\n"), 19u) << text;
    EXPECT_EQ(text.find("running, pid 42", 1), text.find("running, pid 42")) << "one heading per file";
  }
}

TEST(LogTest, AppendsToAnExistingFileAndMakesItPrivate) {
  test::TempDir dir;
  std::string path = dir.file("ruvo-gui.log");
  ASSERT_TRUE(platform::write_file_atomically(path, "old line\n").ok());
  ASSERT_TRUE(platform::set_file_mode(path, 0644).ok());
  Log log(path);
  log.write("new line");
  EXPECT_EQ(platform::file_mode(path), 0600u);
  auto text = platform::read_file(path).value_or("");
  EXPECT_EQ(text.rfind("old line\n", 0), 0u) << text;
  EXPECT_NE(text.find(" new line\n"), std::string::npos) << text;
}

TEST(LogTest, WithoutAPathNothingIsWritten) {
  Log log;
  log.write("dropped");
  EXPECT_TRUE(log.path().empty());
}

}  // namespace
}  // namespace ruvo::desktop
