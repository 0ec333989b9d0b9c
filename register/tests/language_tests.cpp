#include "register/language.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/files.h"
#include "common/ini_file.h"
#include "common/tests/support/test_folders.h"
#include "register/register_home.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

struct LanguageHome : ::testing::Test {
  LanguageHome() {
    home = testing::FreshFolder();
    fs::create_directories(home / "cfg");
    std::ofstream(home / "cfg" / "lang.ini", std::ios::binary)
        << "[Deutsch]\r\n12txt=KASSENBELEG\r\n113cap=Kassieren\r\n150hint=netto\r\n"
           "[Polish]\r\n12txt=PARAGON\r\n113cap=Zainkasuj\r\n";
  }
  ~LanguageHome() override { fs::remove_all(home); }
  fs::path home;
};

TEST_F(LanguageHome, AppliesSectionsAndKeepsCurrentOnEmptyName) {
  Language language(home, {});
  EXPECT_EQ(language.Current(), "Deutsch");
  EXPECT_TRUE(language.ApplyLanguage(""));
  EXPECT_EQ(language.LangText(12), "KASSENBELEG");
  EXPECT_EQ(language.Caption(113), "Kassieren");
  EXPECT_EQ(language.Hint(150), "netto");
  EXPECT_EQ(language.Caption(999), "");
  EXPECT_TRUE(language.ApplyLanguage(Language::LanguageOfMenuEntry("Polnisch")));
  EXPECT_EQ(language.Current(), "Polish");
  EXPECT_EQ(language.Texts().LangText(12), "PARAGON");
  EXPECT_EQ(language.Hint(150), "");
  EXPECT_TRUE(language.ApplyLanguage(""));
  EXPECT_EQ(language.Current(), "Polish");
}

TEST_F(LanguageHome, MissingSectionOrFileLeavesEmptyTexts) {
  Language language(home, {});
  EXPECT_FALSE(language.ApplyLanguage("Klingon"));
  EXPECT_EQ(language.Current(), "Klingon");
  EXPECT_EQ(language.LangText(12), "");
  fs::remove(home / "cfg" / "lang.ini");
  EXPECT_FALSE(language.ApplyLanguage("Deutsch"));
  EXPECT_EQ(language.LangText(12), "");
  EXPECT_EQ(language.LangText(0), "");
  EXPECT_EQ(language.LangText(91), "");
  EXPECT_EQ(language.LangText(LanguageTexts::kTextCount + 1), "");
}

TEST_F(LanguageHome, TheShippedFileFillsInWhatTheHomesCopyLacks) {
  const fs::path shipped = testing::NewFolder("shipped") / "lang.ini";
  std::ofstream(shipped, std::ios::binary)
      << "[Deutsch]\r\n12txt=BELEG\r\n208txt=neu\r\n113cap=Kassieren!\r\n"
         "[Francais]\r\n12txt=TICKET\r\n";
  Language language(home, shipped);
  EXPECT_TRUE(language.ApplyLanguage("Deutsch"));
  EXPECT_EQ(language.LangText(12), "KASSENBELEG");  // the home's word wins
  EXPECT_EQ(language.Caption(113), "Kassieren");
  EXPECT_EQ(language.LangText(208), "neu");
  // A language only the shipped file knows is no missing language.
  EXPECT_TRUE(language.ApplyLanguage("Francais"));
  EXPECT_EQ(language.LangText(12), "TICKET");
  EXPECT_FALSE(language.ApplyLanguage("Klingon"));
  // Without the home's file the shipped one speaks alone; without either, nothing does.
  fs::remove(home / "cfg" / "lang.ini");
  EXPECT_TRUE(language.ApplyLanguage("Deutsch"));
  EXPECT_EQ(language.LangText(12), "BELEG");
  EXPECT_FALSE(language.FileProblem());
  fs::remove(shipped);
  EXPECT_FALSE(language.ApplyLanguage("Deutsch"));
  EXPECT_EQ(language.LangText(12), "");
}

TEST_F(LanguageHome, ByDefaultTheFileBeneathIsTheShippedDefaults) {
  Language language(home);
  EXPECT_EQ(Language::ShippedFile(), ShippedDefaultsFolder() / "cfg" / "lang.ini");
  ASSERT_TRUE(fs::exists(Language::ShippedFile()));
  ASSERT_TRUE(language.ApplyLanguage("English"));
  // The home's test copy has no English: every text comes from the shipped file.
  EXPECT_EQ(language.LangText(91), "No product selected");
  ASSERT_TRUE(language.ApplyLanguage("Deutsch"));
  EXPECT_EQ(language.LangText(12), "KASSENBELEG");
  EXPECT_FALSE(language.LangText(91).empty());
}

TEST(LanguageMenu, OnlyPolnischIsRenamed) {
  EXPECT_EQ(Language::LanguageOfMenuEntry("Polnisch"), "Polish");
  EXPECT_EQ(Language::LanguageOfMenuEntry("Francais"), "Francais");
  EXPECT_EQ(Language::LanguageOfMenuEntry("English"), "English");
}

// The language file the register ships.
class ShippedLanguageFile : public ::testing::TestWithParam<const char*> {
 protected:
  static IniFile File() {
    Result<IniFile> file = IniFile::Load(fs::path(KASSE_SOURCE_DIR) / "home/cfg/lang.ini");
    EXPECT_TRUE(file);
    return file ? *file : IniFile();
  }
};

TEST_P(ShippedLanguageFile, HasEveryNumberedTextTheCodeUses) {
  const IniFile file = File();
  ASSERT_TRUE(file.HasSection(GetParam()));
  const int used[] = {2,  4,  5,  6,  7,  8,  9,  10, 11, 12, 20, 25, 26, 27, 28, 29,
                      30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45,
                      46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 60, 61, 63, 64,
                      65, 66, 67, 68, 70, 71, 72, 73, 74, 75, 80, 81, 82};
  for (const int number : used)
    EXPECT_NE(file.GetString(GetParam(), std::to_string(number) + "txt", ""), "") << number;
}

TEST_P(ShippedLanguageFile, CaptionsEveryTagAndLeavesTheRatePanelsAlone) {
  const IniFile file = File();
  const int captioned[] = {
      1,   2,   3,   4,   6,   7,   20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,
      40,  51,  52,  60,  61,  62,  63,  64,  65,  70,  71,  72,  73,  74,  75,  76,  77,
      78,  79,  80,  81,  82,  83,  84,  85,  86,  87,  88,  89,  91,  92,  93,  94,  95,
      96,  100, 101, 102, 103, 104, 105, 106, 110, 111, 112, 113, 114, 120, 121, 130, 131,
      132, 133, 134, 135, 141, 142, 143, 144, 145, 146, 147, 148, 149, 150, 170, 230, 300,
      301, 302, 303, 305, 350, 351, 352, 353, 355, 400, 401, 402, 403, 404};
  for (const int tag : captioned)
    EXPECT_NE(file.GetString(GetParam(), std::to_string(tag) + "cap", ""), "") << tag;
  const int hinted[] = {31, 32, 201, 202, 220, 221, 222, 223, 224, 225, 226};
  for (const int tag : hinted)
    EXPECT_NE(file.GetString(GetParam(), std::to_string(tag) + "hint", ""), "") << tag;
  EXPECT_FALSE(file.Get(GetParam(), "200cap"));
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedLanguageFile,
                         ::testing::Values("Deutsch", "English", "Francais", "Polish"));

TEST(ShippedLanguageFileBytes, IsCp1252NotUtf8) {
  const Result<std::string> text = ReadFile(fs::path(KASSE_SOURCE_DIR) / "home/cfg/lang.ini");
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("Handels\xFC"
                       "bliche"),
            std::string::npos);
  EXPECT_NE(text->find("Obr\xF3t"), std::string::npos);
  EXPECT_EQ(text->find("\xC3"), std::string::npos);  // UTF-8 lead byte of ü, é, ó ...
}

}  // namespace
}  // namespace kasse
