// What the local service promises about its own safety, checked on the running
// program: it listens on the loopback address only, its token is fresh
// random text that no file but the discovery file holds, its files are the
// owner's alone (also where another program made the folder or the store
// first), and text that looks like SQL is stored as text.
#include "common/json.hpp"
#include "stress/store_check.hpp"
#include "support/http.hpp"
#include "support/local_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace ruvo::stress {
namespace {

using common::JsonValue;
using test::http_exchange;
using test::request_text;

unsigned mode_of(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0xFFFFu;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The socket inodes among the process's open descriptors.
std::set<std::string> socket_inodes(pid_t pid) {
  std::set<std::string> inodes;
  std::error_code error;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    std::error_code link_error;
    const std::string target = std::filesystem::read_symlink(fd.path(), link_error).string();
    if (!link_error && target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  return inodes;
}

// "address:port" (hexadecimal, as the kernel writes them) of every listening
// TCP socket of the process, IPv4 and IPv6.
std::set<std::string> listening_addresses(pid_t pid) {
  const std::set<std::string> inodes = socket_inodes(pid);
  std::set<std::string> found;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::istringstream lines(read_text(table));
    std::string line;
    std::getline(lines, line);  // the column names
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (state == "0A" && inodes.count(inode) != 0) found.insert(local);
    }
  }
  return found;
}

std::string hex_port(std::uint16_t port) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", port);
  return text;
}

bool is_lower_hex(const std::string& text) {
  return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST(LocalServiceSecurity, LoopbackOnlyAndAFreshRandomTokenThatOnlyTheDiscoveryFileHolds) {
  test::AppDataDir app_data;
  test::LocalService service(app_data.path());
  ASSERT_TRUE(service.start()) << service.problem();
  const protocol::ServiceInfo first = service.info();
  EXPECT_EQ(listening_addresses(service.pid()), std::set<std::string>{"0100007F:" + hex_port(first.port)});
  // 32 bytes of the system's random generator, in hexadecimal.
  EXPECT_EQ(first.token.size(), 64u);
  EXPECT_TRUE(is_lower_hex(first.token)) << first.token;

  // Requests, refused and answered, leave the token out of the log.
  for (const char* token : {"", "wrong-token-0123456789abcdef"}) {
    http_exchange(first.port, request_text("GET", "/v1/health", {{"X-Ruvo-Token", token}}, ""));
  }
  http_exchange(first.port, request_text("GET", "/v1/health", {{"X-Ruvo-Token", first.token}}, ""));
  EXPECT_EQ(service.stop(), 0);
  ASSERT_TRUE(service.start()) << service.problem();
  EXPECT_NE(service.info().token, first.token);
  EXPECT_EQ(service.stop(), 0);

  for (const auto& entry : std::filesystem::directory_iterator(service.folder())) {
    const std::string content = read_text(entry.path().string());
    EXPECT_EQ(content.find(first.token), std::string::npos) << entry.path() << " holds an old token";
  }
}

TEST(LocalServiceSecurity, FilesAreTheOwnersAloneEvenWhenOthersMadeThemFirst) {
  // ruvo's launcher makes the folder (for the web view's data) with the
  // caller's umask, and a store may be copied in with any mode.
  test::ProgramDir programs;
  test::AppDataDir app_data;
  test::LocalService service(app_data.path());
  std::filesystem::create_directories(service.folder());
  ::chmod(service.folder().c_str(), 0755);
  for (const char* name : {"ruvo-terms.sqlite3", "ruvo-gui.log"}) {
    const std::string path = service.folder() + "/" + name;
    std::ofstream(path).close();
    ::chmod(path.c_str(), 0644);
  }
  ASSERT_TRUE(service.start()) << service.problem();
  // The write-ahead log and its index come into being with the first write.
  ASSERT_EQ(test::run({.words = {"save", "--term", "私有"}, .program = programs.ruvo(), .env = app_data.env()}).exit_code,
            0);
  for (const char* name : {"explain.json", "ruvo-terms.sqlite3", "ruvo-terms.sqlite3-wal", "ruvo-terms.sqlite3-shm",
                           "ruvo-gui.log", "ruvo-gui.lock"}) {
    EXPECT_EQ(mode_of(service.folder() + "/" + name), 0600u) << name;
  }
  EXPECT_EQ(service.stop(), 0);

  // A folder the service makes itself is private too.
  test::AppDataDir fresh;
  test::LocalService own(fresh.path());
  ASSERT_TRUE(own.start()) << own.problem();
  EXPECT_EQ(mode_of(own.folder()), 0700u);
  EXPECT_EQ(own.stop(), 0);
}

TEST(LocalServiceSecurity, TextThatLooksLikeSqlIsStoredAsText) {
  test::ProgramDir programs;
  test::AppDataDir app_data;
  test::LocalService service(app_data.path());
  ASSERT_TRUE(service.start()) << service.problem();
  const std::size_t before = inspect_store(service.store_path()).fields.size();
  const std::string term = "x'); DROP TABLE terms; --";
  const std::string definition = "\"; DELETE FROM terms WHERE '1'='1";
  const test::RunResult saved = test::run({.words = {"save", "--term", term, "--fields",
                                                     common::to_compact(JsonValue{{"定义", definition}})},
                                           .program = programs.ruvo(),
                                           .env = app_data.env()});
  EXPECT_EQ(saved.exit_code, 0) << saved.err;
  const test::RunResult found =
      test::run({.words = {"lookup", term, "--json"}, .program = programs.ruvo(), .env = app_data.env()});
  const auto reply = common::parse_json(found.out);
  ASSERT_TRUE(reply.ok()) << found.out << found.err;
  EXPECT_EQ(reply->value("term", ""), term);
  EXPECT_EQ(reply->value("definition", ""), definition);
  EXPECT_EQ(service.stop(), 0);

  const StoreCheck store = inspect_store(service.store_path());
  EXPECT_EQ(store.integrity, "ok");
  EXPECT_EQ(store.fields.size(), before + 1);
}

}  // namespace
}  // namespace ruvo::stress
