// Temporary folders for the end-to-end tests: one per test, kept for a look
// when the test fails.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvo::test {

inline constexpr std::string_view kTestToken = "test-token-0123456789abcdef";

inline constexpr std::string_view kTempDirName = "ruvo-test-";

// A new folder made with mkdtemp under $TMPDIR (or /tmp), its name `name`
// followed by six random characters. Removed with its content at destruction,
// unless the current GoogleTest test has failed: it is then kept and its path
// printed to standard error. A folder that cannot be made fails the current
// test (path() is then empty).
class TempDir {
 public:
  explicit TempDir(std::string_view name = kTempDirName);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const;
  // path() joined with `name` (not created).
  std::string file(std::string_view name) const;

 private:
  std::string path_;
};

// A temporary application-data folder: give the program env() (APPDATA set to
// path()) and it looks for the discovery file in discovery_path().
class AppDataDir : public TempDir {
 public:
  using TempDir::TempDir;
  // path()/com.corvanta.desktop, created if missing.
  std::string desktop_folder() const;
  // desktop_folder()/explain.json
  std::string discovery_path() const;
  // Replaces the discovery file with exactly `text` (written to a temporary
  // file and renamed, so a reader never sees half of it). A failed write fails
  // the current test.
  void write_discovery(std::string_view text) const;
  // A well-formed discovery file: {"port":P,"token":"...","version":"..."}.
  void write_discovery(uint16_t port, std::string_view token = kTestToken, std::string_view version = "test") const;
  // {"APPDATA": path()}
  std::map<std::string, std::string> env() const;
};

// A folder holding a copy of the ruvo under test and, under the given names,
// copies of other programs (e.g. fake_desktop as "ruvo-gui.exe"): the launcher
// looks beside its own executable. The copies keep their source's permission
// bits; a copy that fails fails the current test. `folder_name` begins the
// folder's name as TempDir's `name` does (e.g. one with a space in it).
class ProgramDir : public TempDir {
 public:
  explicit ProgramDir(std::vector<std::pair<std::string /*name*/, std::string /*source path*/>> extra = {},
                      std::string_view folder_name = kTempDirName);
  // The same, so that ProgramDir dir({{"ruvo-gui.exe", "/path/fake_desktop"}}) is not ambiguous.
  explicit ProgramDir(std::initializer_list<std::pair<std::string, std::string>> extra,
                      std::string_view folder_name = kTempDirName)
      : ProgramDir(std::vector<std::pair<std::string, std::string>>(extra), folder_name) {}
  // The copied ruvo: path()/<file name of $RUVO_TEST_PROGRAM>. run() gives it
  // the launcher words like the original.
  std::string ruvo() const;

 private:
  std::string ruvo_;
};

}  // namespace ruvo::test
