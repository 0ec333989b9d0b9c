// The folders every test writes into: inside this process's own folder, never shared.

#include "common/tests/support/test_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/files.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

bool Inside(const fs::path& path, const fs::path& folder) {
  const fs::path relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != "..";
}

TEST(TestFolders, FreshFoldersAndHomesStartOverInsideTheRunFolder) {
  const fs::path run = testing::RunFolder();
  EXPECT_NE(run.filename(), "");
  EXPECT_NE(run, fs::path(::testing::TempDir())) << "never the shared temporary folder itself";

  const fs::path folder = testing::FreshFolder("again");
  ASSERT_TRUE(WriteFileAtomic(folder / "left.txt", "from before"));
  EXPECT_EQ(testing::FreshFolder("again"), folder);
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_TRUE(Inside(testing::FreshFolder(), run));

  const fs::path home = testing::FreshHome();
  EXPECT_TRUE(Inside(home, run));
  EXPECT_TRUE(fs::exists(home / "cfg" / "lang.ini"));
  ASSERT_NE(std::getenv("XDG_STATE_HOME"), nullptr);
  EXPECT_TRUE(Inside(std::getenv("XDG_STATE_HOME"), home)) << "the test's card stays in its home";
}

TEST(TestFolders, NewAndTempFoldersAreUniqueAndTempFoldersGoWithTheirObject) {
  EXPECT_NE(testing::NewFolder("same"), testing::NewFolder("same"));
  fs::path gone;
  {
    const testing::TempFolder temp;
    gone = temp.Path();
    EXPECT_TRUE(Inside(gone, testing::RunFolder()));
    EXPECT_TRUE(fs::exists(temp.Write("a/b.txt", "x")));
  }
  EXPECT_FALSE(fs::exists(gone));
}

}  // namespace
}  // namespace kasse
