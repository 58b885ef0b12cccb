#include "log.hpp"

#include "desktop_support.hpp"
#include "platform/platform.hpp"
#include "system.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace ruvo::desktop {
namespace {

TEST(LogTest, AppendsOneLinePerMessageInAPrivateFile) {
  testing::TempFolder dir;
  Log log(dir.file("ruvo-gui.log"));
  log.write("first");
  log.write("second\nstill second\r");
  auto text = platform::read_file(log.path());
  ASSERT_TRUE(text);
  EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), 2) << *text;
  EXPECT_NE(text->find(" first\n"), std::string::npos) << *text;
  EXPECT_NE(text->find(" second still second \n"), std::string::npos) << *text;
  EXPECT_EQ(file_mode(log.path()), 0600u);
}

TEST(LogTest, RotatesBeforeTheFilePassesItsBound) {
  testing::TempFolder dir;
  constexpr std::uint64_t kBound = 1000;
  Log log(dir.file("ruvo-gui.log"), kBound);
  std::string message(80, 'm');
  for (int i = 0; i < 100; ++i) log.write(message + std::to_string(i));
  auto current = file_size(log.path());
  auto previous = file_size(log.path() + ".1");
  ASSERT_TRUE(current && previous);
  EXPECT_LE(*current, kBound);
  EXPECT_LE(*previous, kBound);
  // The newest line is in the current file, older ones went to ".1".
  EXPECT_NE(platform::read_file(log.path()).value_or("").find(message + "99\n"), std::string::npos);
  EXPECT_FALSE(file_size(log.path() + ".2").has_value());
}

TEST(LogTest, WithoutAPathNothingIsWritten) {
  Log log;
  log.write("dropped");
  EXPECT_TRUE(log.path().empty());
}

}  // namespace
}  // namespace ruvo::desktop
