// The single-instance lock: busy while held, refused through a link, private once held.
#include "platform/instance_lock.hpp"

#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "support/outside_file.hpp"
#include "support/temp_dir.hpp"

#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

namespace ruvo::platform {
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
  EXPECT_EQ(platform::try_lock_instance(dir.file("no-such-folder/ruvo-gui.lock")).outcome,
            platform::LockOutcome::kFailed);
}

TEST(InstanceLockTest, IsAtTellsWhetherThePathStillNamesTheLockedFile) {
  test::TempDir dir;
  const std::string path = dir.file("ruvo-gui.lock");
  auto taken = platform::try_lock_instance(path);
  ASSERT_EQ(taken.outcome, platform::LockOutcome::kAcquired);
  EXPECT_TRUE(taken.lock.is_at(path));
  EXPECT_FALSE(taken.lock.is_at(dir.file("elsewhere")));

  // A link to the locked file is not the file: whoever follows it could be
  // sent anywhere later.
  const std::string moved = dir.file("moved.lock");
  ASSERT_TRUE(platform::rename_file(path, moved));
  EXPECT_FALSE(taken.lock.is_at(path));
  EXPECT_TRUE(taken.lock.is_at(moved));
  std::filesystem::create_symlink(moved, path);
  EXPECT_FALSE(taken.lock.is_at(path));

  EXPECT_FALSE(platform::InstanceLock().is_at(moved));
}

TEST(InstanceLockTest, ALockFileOthersMayOpenIsMade0600OnceHeld) {
  for (unsigned mode : {0666u, 0644u, 0700u}) {
    test::TempDir dir;
    std::string path = dir.file("ruvo-gui.lock");
    ASSERT_TRUE(platform::write_file_atomically(path, "").ok());
    ASSERT_TRUE(platform::set_file_mode(path, mode).ok());
    auto held = platform::try_lock_instance(path);
    ASSERT_EQ(held.outcome, platform::LockOutcome::kAcquired) << held.error.text();
    EXPECT_EQ(platform::file_mode(path), 0600u) << std::oct << mode;
  }
}

}  // namespace
}  // namespace ruvo::platform
