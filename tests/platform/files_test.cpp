// The local service's private files: modes, links refused, owned configuration files.
#include "platform/files.hpp"

#include "platform/instance_lock.hpp"
#include "platform/platform.hpp"
#include "support/outside_file.hpp"
#include "support/temp_dir.hpp"

#include <unistd.h>

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

namespace ruvo::platform {
namespace {

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

// Each file function with a symbolic link at the path it is given, to a
// file outside the folder and to nothing: the link is refused, or replaced,
// and what it points at is never created, written or changed.
TEST(SymbolicLinkTest, NoFileFunctionGoesThroughALinkAtItsPath) {
  struct Case {
    const char* what;
    std::string link_name;  // in the folder
    // Runs the function in the folder; its error text, empty on success.
    std::function<std::string(const test::TempDir&)> run;
    bool refused;  // else it succeeds and the link is gone, not followed
  };
  auto text = [](const common::Result<void>& result) { return result ? std::string() : result.error().text(); };
  const Case cases[] = {
      {"the lock", "ruvo-gui.lock",
       [](const test::TempDir& dir) { return platform::try_lock_instance(dir.file("ruvo-gui.lock")).error.text(); },
       true},
      {"a private file", "store",
       [&](const test::TempDir& dir) { return text(platform::make_private_file(dir.file("store"))); }, true},
      {"an append file", "ruvo-gui.log",
       [](const test::TempDir& dir) {
         auto opened = platform::AppendFile::open(dir.file("ruvo-gui.log"));
         return opened ? std::string() : opened.error().text();
       },
       true},
      {"a mode change", "store-wal",
       [&](const test::TempDir& dir) { return text(platform::set_file_mode(dir.file("store-wal"), 0600)); }, true},
      {"an atomic write over a link", "explain.json",
       [&](const test::TempDir& dir) { return text(platform::write_file_atomically(dir.file("explain.json"), "new")); },
       false},
      {"an atomic write with a link at its temporary file", "explain.json.tmp-" + std::to_string(::getpid()),
       [&](const test::TempDir& dir) { return text(platform::write_file_atomically(dir.file("explain.json"), "new")); },
       false},
  };
  for (const auto& c : cases) {
    for (bool target_exists : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (target_exists ? ", link to a file" : ", dangling link"));
      test::TempDir dir;
      test::OutsideFile outside(target_exists);
      outside.link_from(dir.file(c.link_name));
      std::string error = c.run(dir);
      if (c.refused) {
        EXPECT_NE(error.find(dir.file(c.link_name) + " is a symbolic link, which is not followed"), std::string::npos)
            << error;
      } else {
        EXPECT_EQ(error, "");
        EXPECT_FALSE(platform::is_symbolic_link(dir.file(c.link_name)));
      }
      EXPECT_EQ(outside.changes(), "");
    }
  }
}

TEST(PrivateFolderTest, TightensAWideFolderAndFollowsALinkToOne) {
  struct Case {
    unsigned mode;
    bool through_link;
    bool wider;
  };
  const Case cases[] = {{0777, false, true}, {0750, false, true}, {0700, false, false}, {0777, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode << (c.through_link ? " through a link" : ""));
    test::TempDir dir;
    std::string folder = dir.file("real");
    ASSERT_TRUE(platform::create_folders(folder));
    std::filesystem::permissions(folder, static_cast<std::filesystem::perms>(c.mode));
    std::string given = folder;
    if (c.through_link) {
      given = dir.file("link");
      std::filesystem::create_directory_symlink(folder, given);
    }
    auto made = platform::make_private_folder(given);
    ASSERT_TRUE(made.ok()) << made.error().text();
    EXPECT_EQ(*made, c.wider);
    EXPECT_EQ(platform::file_mode(folder), 0700u);
  }
}

// A configuration file is read only when its owner alone may write it;
// others' read permission is taken away first.
TEST(OwnedFileTest, ReadsOnlyAFileNoOneElseMayWrite) {
  struct Case {
    unsigned mode;
    bool read;            // else refused
    bool readable;        // readable_by_others
    unsigned mode_after;  // refused files are left as they are
  };
  const Case cases[] = {
      {0600, true, false, 0600},  {0400, true, false, 0400},  {0644, true, true, 0600},   {0640, true, true, 0600},
      {0666, false, false, 0666}, {0620, false, false, 0620}, {0602, false, false, 0602},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << std::oct << c.mode);
    test::TempDir dir;
    std::string path = dir.file("model.json");
    ASSERT_TRUE(platform::write_file_atomically(path, "{}").ok());
    ASSERT_TRUE(platform::set_file_mode(path, c.mode).ok());
    auto read = platform::read_owned_file(path);
    if (c.read) {
      ASSERT_TRUE(read.ok()) << read.error().text();
      ASSERT_TRUE(read->has_value());
      EXPECT_EQ((*read)->content, "{}");
      EXPECT_EQ((*read)->readable_by_others, c.readable);
      EXPECT_TRUE((*read)->made_private.ok());
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_NE(read.error().text().find(path + " may be written by group or others"), std::string::npos)
          << read.error().text();
    }
    EXPECT_EQ(platform::file_mode(path), c.mode_after);
  }
  test::TempDir dir;
  auto missing = platform::read_owned_file(dir.file("model.json"));
  ASSERT_TRUE(missing.ok()) << missing.error().text();
  EXPECT_FALSE(missing->has_value());
}

TEST(OwnedFileTest, AFileOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  test::TempDir dir;
  std::string path = dir.file("model.json");
  ASSERT_TRUE(platform::write_file_atomically(path, "{}").ok());
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  auto read = platform::read_owned_file(path);
  ASSERT_FALSE(read.ok());
  EXPECT_NE(read.error().text().find("belongs to user 65534"), std::string::npos) << read.error().text();
}

}  // namespace
}  // namespace ruvo::platform
