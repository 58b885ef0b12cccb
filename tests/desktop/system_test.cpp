#include "system.hpp"

#include "desktop_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace ruvo::desktop {
namespace {

TEST(InstanceLockTest, SecondLockIsBusyUntilTheFirstIsReleased) {
  testing::TempFolder dir;
  std::string path = dir.file("ruvo-gui.lock");
  {
    auto first = try_lock_instance(path);
    ASSERT_EQ(first.outcome, LockOutcome::kAcquired);
    EXPECT_TRUE(first.lock.held());
    auto second = try_lock_instance(path);  // a separate open file: flock conflicts
    EXPECT_EQ(second.outcome, LockOutcome::kBusy);
    EXPECT_FALSE(second.lock.held());
  }
  auto again = try_lock_instance(path);
  EXPECT_EQ(again.outcome, LockOutcome::kAcquired);
  EXPECT_EQ(file_mode(path), 0600u);
}

TEST(InstanceLockTest, UnopenableLockFileFails) {
  testing::TempFolder dir;
  EXPECT_EQ(try_lock_instance(dir.file("no-such-folder/ruvo-gui.lock")).outcome, LockOutcome::kFailed);
}

TEST(RandomBytesTest, GivesTheCountAsked) {
  auto bytes = random_bytes(32);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 32u);
  EXPECT_NE(*bytes, *random_bytes(32));
}

TEST(PrivateFileTest, CreatesOrTightensPermissions) {
  testing::TempFolder dir;
  std::string path = dir.file("store");
  ASSERT_FALSE(write_file_atomically(path, "x").has_value());
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  ASSERT_EQ(file_mode(path), 0644u);
  EXPECT_FALSE(make_private_file(path).has_value());
  EXPECT_EQ(file_mode(path), 0600u);
  EXPECT_EQ(read_whole_file(path), "x");  // content untouched
}

}  // namespace
}  // namespace ruvo::desktop
