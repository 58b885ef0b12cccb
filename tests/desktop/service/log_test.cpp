#include "service/log.hpp"

#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "support/outside_file.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace ruvo::desktop::service {
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

TEST(LogTest, ALinkAtTheLogIsRefusedAndNothingIsWrittenThroughIt) {
  for (bool target_exists : {true, false}) {
    SCOPED_TRACE(target_exists ? "link to a file" : "dangling link");
    test::TempDir dir;
    test::OutsideFile outside(target_exists);
    outside.link_from(dir.file("ruvo-gui.log"));
    Log log(dir.file("ruvo-gui.log"));
    auto opened = log.open();
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().text().find("ruvo-gui.log is a symbolic link, which is not followed"), std::string::npos)
        << opened.error().text();
    log.write("a line with nowhere to go");
    EXPECT_EQ(outside.changes(), "");
  }
}

TEST(LogTest, RotationReplacesALinkAtTheOldFileWithoutFollowingIt) {
  test::TempDir dir;
  test::OutsideFile outside;
  outside.link_from(dir.file("ruvo-gui.log.1"));
  Log log(dir.file("ruvo-gui.log"), 200);
  ASSERT_TRUE(log.open().ok());
  for (int i = 0; i < 10; ++i) log.write(std::string(40, 'm') + std::to_string(i));
  EXPECT_FALSE(platform::is_symbolic_link(log.path() + ".1"));
  EXPECT_NE(platform::read_file(log.path() + ".1").value_or("").find(std::string(40, 'm')), std::string::npos);
  EXPECT_EQ(outside.changes(), "");
}

TEST(LogTest, WithoutAPathNothingIsWritten) {
  Log log;
  EXPECT_TRUE(log.open().ok());
  log.write("dropped");
  EXPECT_TRUE(log.path().empty());
}

}  // namespace
}  // namespace ruvo::desktop::service
