// The browser commands --open tries, from $BROWSER and then xdg-open.
#include "commands/open.hpp"

#include <gtest/gtest.h>

namespace ruvo::desktop::commands {
namespace {

TEST(OpenTest, BrowserCommandsFollowTheBrowserVariableThenXdgOpen) {
  const std::string url = "http://127.0.0.1:1/sign-in?secret=s";
  using Commands = std::vector<std::vector<std::string>>;
  struct Case {
    const char* variable;
    Commands commands;
  };
  const Case cases[] = {
      {nullptr, {{"xdg-open", url}}},
      {"", {{"xdg-open", url}}},
      {"firefox", {{"firefox", url}, {"xdg-open", url}}},
      {"chromium --incognito:lynx %s", {{"chromium", "--incognito", url}, {"lynx", url}, {"xdg-open", url}}},
      {"open --url=%s", {{"open", "--url=" + url}, {"xdg-open", url}}},
      {" : ", {{"xdg-open", url}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(browser_commands(c.variable, url), c.commands) << (c.variable ? c.variable : "unset");
}

}  // namespace
}  // namespace ruvo::desktop::commands
