// `ruvo-gui.exe` (no word), `--open` and `--url` as real processes: each
// makes sure a service runs for the application-data folder and hands out a
// fresh one-time sign-in address; the browser is $BROWSER, here a script
// that writes down what it was given.
#include "client/http.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "support/http.hpp"
#include "support/local_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace ruvo::desktop {
namespace {

using test::gui_program;
using test::TempDir;

class OpenProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    browser_ = dir_.file("browser.sh");
    ASSERT_TRUE(
        platform::write_file_atomically(browser_, "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$0.seen\"\necho noise\n")
            .ok());
    ASSERT_TRUE(platform::set_file_mode(browser_, 0700).ok());
  }
  void TearDown() override { EXPECT_TRUE(test::stop_logged_service(data_folder())); }

  std::string data_folder() const { return dir_.file("com.corvanta.desktop"); }

  test::RunResult gui(std::vector<std::string> words) const {
    return test::run({.words = std::move(words),
                      .program = gui_program(),
                      .env = {{"APPDATA", dir_.path()}, {"BROWSER", browser_ + " --new-window %s"}},
                      .timeout_seconds = test::kStartLimitMs / 1000});
  }

  // What the browser script was given, once it has run.
  std::string seen() const {
    for (int i = 0; i < 200; ++i) {
      auto text = platform::read_file(browser_ + ".seen");
      if (text && !text->empty()) return *text;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
  }

  TempDir dir_;
  std::string browser_;
};

// http://127.0.0.1:<port>/sign-in?secret=<64 hex digits> and a line feed.
bool is_sign_in_line(const std::string& out) {
  const std::string head = "http://127.0.0.1:";
  const std::string middle = "/sign-in?secret=";
  auto at = out.find(middle);
  return out.rfind(head, 0) == 0 && at != std::string::npos && out.size() == at + middle.size() + 64 + 1 &&
         out.back() == '\n';
}

TEST_F(OpenProcessTest, NoWordStartsTheServiceOpensTheBrowserAndPrintsTheAddress) {
  auto opened = gui({});
  EXPECT_EQ(opened.exit_code, 0) << opened.err;
  EXPECT_EQ(opened.err, "");
  EXPECT_TRUE(is_sign_in_line(opened.out)) << opened.out;
  EXPECT_EQ(seen(), "--new-window " + opened.out) << "the browser got the address, its chatter went nowhere";

  auto info = test::wait_for_discovery(data_folder() + "/explain.json", test::kStartLimitMs);
  ASSERT_TRUE(info);
  EXPECT_EQ(opened.out.rfind("http://127.0.0.1:" + std::to_string(info->port) + "/", 0), 0u);

  // The address signs in once; --url and --open reuse the running service
  // and hand out new ones.
  const std::string path =
      opened.out.substr(opened.out.find("/sign-in"), opened.out.size() - 1 - opened.out.find("/sign-in"));
  auto first = test::http_exchange(info->port, test::request_text("GET", path, {}, ""));
  ASSERT_TRUE(first);
  EXPECT_EQ(test::split_reply(*first).status, 303);
  auto second = test::http_exchange(info->port, test::request_text("GET", path, {}, ""));
  ASSERT_TRUE(second);
  EXPECT_EQ(test::split_reply(*second).status, 401);

  auto url = gui({"--url"});
  EXPECT_EQ(url.exit_code, 0) << url.err;
  EXPECT_TRUE(is_sign_in_line(url.out)) << url.out;
  EXPECT_NE(url.out, opened.out);
  auto again = gui({"--open"});
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_TRUE(is_sign_in_line(again.out)) << again.out;

  auto log = platform::read_file(data_folder() + "/ruvo-gui.log").value_or("");
  EXPECT_EQ(log.find(path.substr(path.find('=') + 1)), std::string::npos) << "the secret is never logged";
}

TEST_F(OpenProcessTest, ABrowserThatCannotStartStillLeavesTheAddress) {
  auto result =
      test::run({.words = {"--open"},
                 .program = gui_program(),
                 .env = {{"APPDATA", dir_.path()}, {"BROWSER", dir_.file("no-such-browser")}, {"PATH", dir_.path()}},
                 .timeout_seconds = test::kStartLimitMs / 1000});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(is_sign_in_line(result.out)) << result.out;
  EXPECT_NE(result.err.find("打不开浏览器"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("xdg-open"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace ruvo::desktop
