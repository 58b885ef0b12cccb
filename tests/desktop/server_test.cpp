#include "platform/server.hpp"

#include "platform/platform.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>

#include <pthread.h>

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

TEST(StopSignalTest, WaitingAWhileGivesZeroWithoutASignalAndTheSignalWhenOneComes) {
  // Blocked in this thread only, and sent to this thread only: no other
  // thread of the test program can take it and die of it.
  sigset_t stop;
  sigset_t before;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &stop, &before), 0);
  EXPECT_EQ(platform::wait_for_stop_signal_for(std::chrono::milliseconds(10)), 0);
  EXPECT_EQ(platform::wait_for_stop_signal_for(std::chrono::milliseconds(0)), 0);
  for (int number : {SIGTERM, SIGINT}) {
    ASSERT_EQ(::pthread_kill(::pthread_self(), number), 0);
    EXPECT_EQ(platform::wait_for_stop_signal_for(std::chrono::seconds(30)), number);
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
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
