#include "service/upkeep.hpp"

#include "platform/daemon.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "protocol/service_info.hpp"
#include "service/discovery_file.hpp"
#include "support/damaged_store.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace ruvo::desktop::service {
namespace {

using test::TempDir;

constexpr int kPort = 43210;
constexpr const char* kToken = "0011223344556677889900112233445566778899001122334455667788990011";

class UpkeepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto taken = platform::try_lock_instance(lock_path());
    ASSERT_EQ(taken.outcome, platform::LockOutcome::kAcquired);
    lock_ = std::move(taken.lock);
    ASSERT_TRUE(write_discovery_file(discovery_path(), kPort, kToken, "9.9.9").ok());
  }

  std::string discovery_path() const { return dir_.file("explain.json"); }
  std::string lock_path() const { return dir_.file("ruvo-gui.lock"); }
  // What the service writes: its port, token and version, and this process's id.
  std::string own_content() const {
    return protocol::discovery_content(kPort, kToken, "9.9.9", static_cast<std::uint32_t>(platform::current_pid()));
  }
  std::string log_text() const { return platform::read_file(dir_.file("ruvo-gui.log")).value_or(""); }

  Upkeep upkeep(store::TermStore* store = nullptr) {
    return Upkeep(UpkeepSetup{discovery_path(), lock_path(), kPort, kToken, "9.9.9"}, lock_, log_, store);
  }

  TempDir dir_;
  platform::InstanceLock lock_;
  Log log_{dir_.file("ruvo-gui.log")};
};

std::size_t lines_in(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(UpkeepTest, FilesInPlaceAreLeftAloneAndNothingIsLogged) {
  auto keeper = upkeep();
  for (int round = 0; round < 3; ++round) EXPECT_TRUE(keeper.check());
  EXPECT_EQ(platform::read_file(discovery_path()), own_content());
  EXPECT_TRUE(lock_.is_at(lock_path()));
  EXPECT_EQ(log_text(), "");
}

TEST_F(UpkeepTest, DiscoveryFileMissingOrNotItsOwnIsPutBack) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> spoil;
    const char* logged;
  };
  const Case cases[] = {
      {"removed", [](const std::string& path) { ASSERT_TRUE(platform::remove_file(path)); }, "was missing"},
      {"another port",
       [](const std::string& path) { ASSERT_TRUE(write_discovery_file(path, kPort + 1, kToken, "9.9.9").ok()); },
       "was naming another port or token"},
      {"another token",
       [](const std::string& path) {
         ASSERT_TRUE(write_discovery_file(path, kPort, "another-instance-token-0000", "9.9.9").ok());
       },
       "was naming another port or token"},
      {"not JSON",
       [](const std::string& path) { ASSERT_TRUE(platform::write_file_atomically(path, "{\"port\":").ok()); },
       "was unreadable"},
      {"empty", [](const std::string& path) { ASSERT_TRUE(platform::write_file_atomically(path, "").ok()); },
       "was unreadable"},
  };
  auto keeper = upkeep();
  for (const auto& c : cases) {
    const std::string before = log_text();
    c.spoil(discovery_path());
    EXPECT_TRUE(keeper.check()) << c.name;
    EXPECT_EQ(platform::read_file(discovery_path()), own_content()) << c.name;
    EXPECT_EQ(platform::file_mode(discovery_path()), 0600u) << c.name;
    const std::string added = log_text().substr(before.size());
    EXPECT_EQ(lines_in(added), 1u) << c.name << ": " << added;
    EXPECT_NE(added.find("the discovery file " + discovery_path() + " " + c.logged + "; put back"), std::string::npos)
        << c.name << ": " << added;
    // Put back once: the next round finds it in place and says nothing.
    EXPECT_TRUE(keeper.check()) << c.name;
    EXPECT_EQ(log_text().size(), before.size() + added.size()) << c.name;
  }
}

TEST_F(UpkeepTest, AFailureToPutTheDiscoveryFileBackIsLoggedOnceAndRetried) {
  ASSERT_TRUE(platform::remove_file(discovery_path()));
  // A folder where the temporary file would go makes every write fail.
  std::filesystem::create_directory(discovery_path() + ".tmp-" + std::to_string(platform::current_pid()));
  auto keeper = upkeep();
  for (int round = 0; round < 3; ++round) EXPECT_TRUE(keeper.check());
  EXPECT_EQ(lines_in(log_text()), 1u) << log_text();
  EXPECT_NE(log_text().find("cannot put back the discovery file"), std::string::npos) << log_text();

  std::filesystem::remove_all(discovery_path() + ".tmp-" + std::to_string(platform::current_pid()));
  EXPECT_TRUE(keeper.check());
  EXPECT_EQ(platform::read_file(discovery_path()), own_content());
  EXPECT_NE(log_text().find("was missing; put back"), std::string::npos) << log_text();
}

TEST_F(UpkeepTest, LockFileRemovedOrReplacedIsPutBackAndKeepsOthersOut) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> spoil;
    const char* logged;
  };
  const Case cases[] = {
      {"removed", [](const std::string& path) { ASSERT_TRUE(platform::remove_file(path)); }, "was missing"},
      {"replaced by another file",
       [](const std::string& path) { ASSERT_TRUE(platform::write_file_atomically(path, "").ok()); }, "was replaced"},
  };
  auto keeper = upkeep();
  for (const auto& c : cases) {
    c.spoil(lock_path());
    ASSERT_FALSE(lock_.is_at(lock_path())) << c.name;
    const std::string before = log_text();
    EXPECT_TRUE(keeper.check()) << c.name;
    EXPECT_TRUE(lock_.is_at(lock_path())) << c.name;
    // A second instance now finds the lock taken, as it would have before.
    EXPECT_EQ(platform::try_lock_instance(lock_path()).outcome, platform::LockOutcome::kBusy) << c.name;
    EXPECT_EQ(platform::file_mode(lock_path()), 0600u) << c.name;
    const std::string added = log_text().substr(before.size());
    EXPECT_EQ(lines_in(added), 1u) << c.name << ": " << added;
    EXPECT_NE(added.find("the lock file " + lock_path() + " " + c.logged + "; put back"), std::string::npos)
        << c.name << ": " << added;
  }
}

TEST_F(UpkeepTest, AnotherInstanceHoldingTheNewLockFileMeansStop) {
  ASSERT_TRUE(platform::remove_file(lock_path()));
  auto other = platform::try_lock_instance(lock_path());  // another instance started meanwhile
  ASSERT_EQ(other.outcome, platform::LockOutcome::kAcquired);
  // Whatever it wrote is its own business now.
  ASSERT_TRUE(write_discovery_file(discovery_path(), kPort + 7, "another-instance-token-0000", "").ok());
  const auto theirs = platform::read_file(discovery_path());
  ASSERT_TRUE(theirs.ok()) << theirs.error().text();

  auto keeper = upkeep();
  EXPECT_FALSE(keeper.check());
  EXPECT_EQ(platform::read_file(discovery_path()), *theirs);
  EXPECT_TRUE(other.lock.is_at(lock_path()));
  EXPECT_NE(log_text().find("the lock file " + lock_path() + " was replaced and another instance holds it"),
            std::string::npos)
      << log_text();
}

TEST_F(UpkeepTest, StoreDamageIsLoggedOnce) {
  const std::string store_path = dir_.file("terms.sqlite3");
  auto damaged = test::make_damaged_store(store_path, "RAG");
  ASSERT_NE(damaged.number, 0) << damaged.problem;
  auto store = store::TermStore::open(store_path, {});
  ASSERT_TRUE(store.ok()) << store.error().text();

  auto keeper = upkeep(store->get());
  for (int round = 0; round < 3; ++round) EXPECT_TRUE(keeper.check());
  EXPECT_EQ(lines_in(log_text()), 1u) << log_text();
  EXPECT_NE(log_text().find("the store is damaged (SQLite: "), std::string::npos) << log_text();
}

}  // namespace
}  // namespace ruvo::desktop::service
