#include "platform/server.hpp"

#include "platform/platform.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace ruvo::desktop {
namespace {

TEST(InstanceLockTest, SecondLockIsBusyUntilTheFirstIsReleased) {
  test::TempDir dir;
  std::string path = dir.file("ruvo-gui.lock");
  {
    auto first = platform::try_lock_instance(path);
    ASSERT_EQ(first.outcome, platform::LockOutcome::kAcquired);
    EXPECT_TRUE(first.lock.held());
    auto second = platform::try_lock_instance(path);  // a separate open file: flock conflicts
    EXPECT_EQ(second.outcome, platform::LockOutcome::kBusy);
    EXPECT_FALSE(second.lock.held());
  }
  auto again = platform::try_lock_instance(path);
  EXPECT_EQ(again.outcome, platform::LockOutcome::kAcquired);
  EXPECT_EQ(platform::file_mode(path), 0600u);
}

TEST(InstanceLockTest, UnopenableLockFileFails) {
  test::TempDir dir;
  EXPECT_EQ(platform::try_lock_instance(dir.file("no-such-folder/ruvo-gui.lock")).outcome, platform::LockOutcome::kFailed);
}

TEST(RandomBytesTest, GivesTheCountAsked) {
  auto bytes = platform::random_bytes(32);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 32u);
  EXPECT_NE(*bytes, *platform::random_bytes(32));
}

TEST(PrivateFileTest, CreatesOrTightensPermissions) {
  test::TempDir dir;
  std::string path = dir.file("store");
  ASSERT_TRUE(platform::write_file_atomically(path, "x").ok());
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  ASSERT_EQ(platform::file_mode(path), 0644u);
  EXPECT_TRUE(platform::make_private_file(path).ok());
  EXPECT_EQ(platform::file_mode(path), 0600u);
  EXPECT_EQ(platform::read_file(path), "x");  // content untouched
}

}  // namespace
}  // namespace ruvo::desktop
