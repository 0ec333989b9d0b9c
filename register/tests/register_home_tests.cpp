#include "register/register_home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/files.h"
#include "common/tests/support/test_folders.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

// A folder of its own with a small set of defaults in `defaults` and no home yet.
struct SeedFolders : ::testing::Test {
  SeedFolders() {
    root = testing::NewFolder("seed");
    defaults = root / "share" / "kasse";
    fs::create_directories(defaults / "cfg");
    fs::create_directories(defaults / "Produkte");
    EXPECT_TRUE(WriteFileAtomic(defaults / "cfg" / "lang.ini", "[Deutsch]\r\n12txt=BELEG\r\n"));
    EXPECT_TRUE(WriteFileAtomic(defaults / "Produkte" / "Standard.xml", "<products/>"));
    home = root / "user" / ".local" / "share" / "kasse";
  }
  ~SeedFolders() override { fs::remove_all(root); }

  std::string Text(const fs::path& file) {
    Result<std::string> text = ReadFile(file);
    return text ? *text : "(unreadable)";
  }

  fs::path root, defaults, home;
};

TEST_F(SeedFolders, ANewHomeGetsTheDefaultsAndEmptyJournalAndExportFolders) {
  ASSERT_TRUE(SeedRegisterHome(home, defaults));
  EXPECT_EQ(Text(home / "cfg" / "lang.ini"), "[Deutsch]\r\n12txt=BELEG\r\n");
  EXPECT_EQ(Text(home / "Produkte" / "Standard.xml"), "<products/>");
  EXPECT_TRUE(fs::is_directory(home / "Journal"));
  EXPECT_TRUE(fs::is_empty(home / "Journal"));
  EXPECT_TRUE(fs::is_directory(home / "Export"));
  // Nothing else: no temporary file is left beside a seeded one.
  EXPECT_EQ(std::distance(fs::directory_iterator(home / "cfg"), fs::directory_iterator()), 1);
  struct stat info {};
  ASSERT_EQ(::stat((home / "cfg" / "lang.ini").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(SeedFolders, WhatTheHomeHoldsIsNeverReplacedAndWhatItLacksIsAdded) {
  fs::create_directories(home / "cfg");
  fs::create_directories(home / "Journal");
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "lang.ini", "[English]\r\n12txt=RECEIPT\r\n"));
  ASSERT_TRUE(WriteFileAtomic(home / "Journal" / "261207XMLExpBak01S.xml", "<signed/>"));
  ASSERT_TRUE(SeedRegisterHome(home, defaults));
  ASSERT_TRUE(SeedRegisterHome(home, defaults));  // a second start changes nothing
  EXPECT_EQ(Text(home / "cfg" / "lang.ini"), "[English]\r\n12txt=RECEIPT\r\n");
  EXPECT_EQ(Text(home / "Journal" / "261207XMLExpBak01S.xml"), "<signed/>");
  EXPECT_EQ(Text(home / "Produkte" / "Standard.xml"), "<products/>");
}

TEST_F(SeedFolders, AHomeThatCannotBeMadeIsNamedWithTheSystemsReason) {
  fs::create_directories(root / "user");
  ASSERT_TRUE(WriteFileAtomic(root / "user" / ".local", "a file where a folder belongs"));
  Result<void> seeded = SeedRegisterHome(home, defaults);
  ASSERT_FALSE(seeded);
  EXPECT_NE(seeded.error().English().find((root / "user" / ".local").string()), std::string::npos)
      << seeded.error().English();
  EXPECT_NE(seeded.error().English().find("Not a directory"), std::string::npos)
      << seeded.error().English();
  EXPECT_NE(seeded.error().English().find("--home"), std::string::npos) << seeded.error().English();
}

TEST_F(SeedFolders, MissingDefaultsAreNamedUnlessTheHomeHasItsFilesAlready) {
  fs::remove_all(defaults);
  Result<void> seeded = SeedRegisterHome(home, defaults);
  ASSERT_FALSE(seeded);
  EXPECT_NE(seeded.error().English().find((defaults / "cfg" / "lang.ini").string()),
            std::string::npos)
      << seeded.error().English();
  fs::create_directories(home / "cfg");
  fs::create_directories(home / "Produkte");
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "lang.ini", "[Deutsch]\r\n"));
  ASSERT_TRUE(WriteFileAtomic(home / "Produkte" / "Standard.xml", "<products/>"));
  EXPECT_TRUE(SeedRegisterHome(home, defaults));
}

TEST(ShippedDefaults, SitBesideTheBinFolderOfTheProgram) {
  // The test programs live in the build tree's bin folder, like kasse itself.
  const fs::path defaults = ShippedDefaultsFolder();
  EXPECT_EQ(defaults, fs::path(KASSE_BIN_DIR).parent_path() / "share" / "kasse");
  EXPECT_TRUE(fs::is_regular_file(defaults / "cfg" / "lang.ini")) << defaults;
  EXPECT_TRUE(fs::is_regular_file(defaults / "Produkte" / "Standard.xml")) << defaults;
  EXPECT_FALSE(fs::exists(defaults / "Journal")) << "the defaults are never a home";
}

}  // namespace
}  // namespace kasse
