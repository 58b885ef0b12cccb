#include "protocol/service_info.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

using ruvo::protocol::discovery_content;
using ruvo::protocol::parse_service_info;

namespace {

const std::string kToken16 = "0123456789abcdef";

std::string file_with(const std::string& port, const std::string& token = "\"" + kToken16 + "\"",
                      const std::string& extra = "") {
  return "{\"port\":" + port + ",\"token\":" + token + extra + "}";
}

}  // namespace

TEST(DiscoveryFile, PortMustBeAPlainIntegerInRange) {
  struct Case {
    std::string port;
    bool usable;
  };
  const Case cases[] = {{"1", true},       {"65535", true}, {"8080", true},  {"0", false},
                        {"65536", false},  {"80.0", false}, {"8e1", false},  {"-1", false},
                        {"\"80\"", false}, {"null", false}, {"[80]", false}, {"-0", false}};
  for (const auto& c : cases) {
    const auto info = parse_service_info(file_with(c.port));
    EXPECT_EQ(info.ok(), c.usable) << c.port;
    if (info && c.port == "65535") {
      EXPECT_EQ(info->port, 65535);
    }
  }
  EXPECT_FALSE(parse_service_info("{\"token\":\"" + kToken16 + "\"}"));
}

TEST(DiscoveryFile, TokenNeedsSixteenBytes) {
  EXPECT_FALSE(parse_service_info(file_with("80", "\"0123456789abcde\"")));
  EXPECT_TRUE(parse_service_info(file_with("80", "\"" + kToken16 + "\"")));
  // Six three-byte characters are 18 bytes.
  const auto info = parse_service_info(file_with("80", "\"令牌令牌令牌\""));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->token, "令牌令牌令牌");
  EXPECT_FALSE(parse_service_info(file_with("80", "12345678901234567890")));
  EXPECT_FALSE(parse_service_info(file_with("80", "null")));
}

TEST(DiscoveryFile, VersionIsOptional) {
  EXPECT_EQ(parse_service_info(file_with("80", "\"" + kToken16 + "\"", ",\"version\":\"1.2\""))->version, "1.2");
  EXPECT_EQ(parse_service_info(file_with("80", "\"" + kToken16 + "\"", ",\"version\":12"))->version, "");
  const auto info = parse_service_info(file_with("80", "\"" + kToken16 + "\"", ",\"other\":[1]"));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->version, "");
  EXPECT_EQ(info->token, kToken16);
}

TEST(DiscoveryFile, DocumentMustBeOneObject) {
  const std::string good = file_with("80");
  EXPECT_TRUE(parse_service_info("\n  " + good + "\r\n"));
  EXPECT_FALSE(parse_service_info("\xEF\xBB\xBF" + good));
  EXPECT_FALSE(parse_service_info(good + good));
  EXPECT_FALSE(parse_service_info("[" + good + "]"));
  EXPECT_FALSE(parse_service_info(""));
  EXPECT_FALSE(parse_service_info("{\"port\":80,\"token\":\"0123456789abcdef\xFF\"}"));
}

TEST(DiscoveryFile, WrittenContentReadsBack) {
  const std::string text = discovery_content(4242, kToken16, "0.1.8");
  EXPECT_EQ(text, R"({"port":4242,"token":"0123456789abcdef","version":"0.1.8"})");
  const auto info = parse_service_info(text);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->port, 4242);
  EXPECT_EQ(info->token, kToken16);
  EXPECT_EQ(info->version, "0.1.8");
}

TEST(DiscoveryFile, PidIsTakenOnlyWhenItIsAPlainPositiveIntegerThatFits) {
  struct Case {
    std::string extra;
    std::optional<std::uint32_t> pid;
  };
  const Case cases[] = {
      {"", std::nullopt},  // the vendor's application writes none
      {",\"pid\":1", 1u},
      {",\"pid\":4242", 4242u},
      {",\"pid\":4294967295", 4294967295u},
      {",\"pid\":4294967296", std::nullopt},
      {",\"pid\":18446744073709551616", std::nullopt},
      {",\"pid\":0", std::nullopt},
      {",\"pid\":-1", std::nullopt},
      {",\"pid\":42.0", std::nullopt},
      {",\"pid\":4e2", std::nullopt},
      {",\"pid\":\"42\"", std::nullopt},
      {",\"pid\":null", std::nullopt},
      {",\"pid\":[42]", std::nullopt},
      {",\"pid\":{\"id\":42}", std::nullopt},
      {",\"pid\":true", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra);
    // A pid that does not qualify never makes the file unusable.
    const auto info = parse_service_info(file_with("80", "\"" + kToken16 + "\"", c.extra));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->pid, c.pid);
    EXPECT_EQ(info->port, 80);
    EXPECT_EQ(info->token, kToken16);
  }
}

TEST(DiscoveryFile, WrittenContentWithAPidKeepsTheOtherMembersAsTheyAre) {
  const std::string without = discovery_content(4242, kToken16, "0.1.8");
  const std::string with = discovery_content(4242, kToken16, "0.1.8", 31337);
  EXPECT_EQ(with, R"({"pid":31337,"port":4242,"token":"0123456789abcdef","version":"0.1.8"})");
  EXPECT_EQ(with.substr(with.find("\"port\"")), without.substr(1));
  const auto info = parse_service_info(with);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->pid, 31337u);
  EXPECT_EQ(info->port, 4242);
  EXPECT_EQ(info->token, kToken16);
  EXPECT_EQ(info->version, "0.1.8");
  EXPECT_EQ(parse_service_info(without)->pid, std::nullopt);
}
