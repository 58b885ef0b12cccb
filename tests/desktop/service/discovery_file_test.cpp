#include "service/discovery_file.hpp"

#include "platform/daemon.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "protocol/service_info.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace ruvo::desktop::service {
namespace {

constexpr const char* kToken = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

TEST(DiscoveryFileTest, WrittenFileIsPrivateWholeAndReadableByRuvo) {
  test::TempDir dir;
  std::string path = dir.file("explain.json");
  ASSERT_TRUE(write_discovery_file(path, 54321, kToken, "0.1.8").ok());
  EXPECT_EQ(platform::file_mode(path), 0600u);
  auto text = platform::read_file(path);
  ASSERT_TRUE(text);
  const std::string pid = std::to_string(platform::current_pid());
  EXPECT_EQ(*text, R"({"pid":)" + pid + R"(,"port":54321,"token":")" + std::string(kToken) + R"(","version":"0.1.8"})");
  auto info = protocol::parse_service_info(*text);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->port, 54321);
  EXPECT_EQ(info->token, kToken);
  EXPECT_EQ(info->version, "0.1.8");
  EXPECT_EQ(info->pid, static_cast<std::uint32_t>(platform::current_pid()));
  // Only the file itself is left behind: no temporary file.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(DiscoveryFileTest, RewritingReplacesAnOlderFileEvenAReadOnlyOne) {
  test::TempDir dir;
  std::string path = dir.file("explain.json");
  ASSERT_TRUE(write_discovery_file(path, 1, "old-token-old-token", "").ok());
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  ASSERT_TRUE(write_discovery_file(path, 2, kToken, "").ok());
  auto info = protocol::parse_service_info(platform::read_file(path).value_or(""));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->port, 2);
  EXPECT_EQ(platform::file_mode(path), 0600u);
}

TEST(DiscoveryFileTest, RemovesOnlyAFileThatStillCarriesItsToken) {
  test::TempDir dir;
  std::string path = dir.file("explain.json");
  ASSERT_TRUE(write_discovery_file(path, 1000, "someone-elses-token-xx", "").ok());
  EXPECT_FALSE(remove_own_discovery_file(path, kToken));
  EXPECT_TRUE(platform::is_regular_file(path));

  ASSERT_TRUE(write_discovery_file(path, 1000, kToken, "").ok());
  EXPECT_TRUE(remove_own_discovery_file(path, kToken));
  EXPECT_FALSE(platform::is_regular_file(path));
  EXPECT_FALSE(remove_own_discovery_file(path, kToken));  // already gone
}

TEST(DiscoveryFileTest, FailureIsReportedNotThrown) {
  test::TempDir dir;
  auto written = write_discovery_file(dir.file("missing-folder/explain.json"), 1, kToken, "");
  ASSERT_FALSE(written.ok());
  EXPECT_NE(written.error().text().find("os error"), std::string::npos) << written.error().text();
}

}  // namespace
}  // namespace ruvo::desktop::service
