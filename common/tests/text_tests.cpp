#include <gtest/gtest.h>

#include <filesystem>

#include "common/cp1252.h"
#include "common/files.h"
#include "common/ini_file.h"
#include "common/language_texts.h"
#include "common/tests/support/test_folders.h"

namespace kasse {
namespace {

TEST(Cp1252, RoundTripsEuroUmlautsAndTypography) {
  const std::string cp = "\x80 M\xFCller \x84quoted\x93 \xDF";
  const std::string utf8 = Cp1252ToUtf8(cp);
  EXPECT_EQ(utf8, "\xE2\x82\xAC M\xC3\xBCller \xE2\x80\x9Equoted\xE2\x80\x9C \xC3\x9F");
  EXPECT_EQ(Utf8ToCp1252(utf8), cp);
}

TEST(Cp1252, UnmappableBecomesQuestionMarkAndStrayBytesStay) {
  EXPECT_EQ(Utf8ToCp1252("\xE2\x98\x83"), "?");           // snowman
  EXPECT_EQ(Utf8ToCp1252("Br\xF6tchen"), "Br\xF6tchen");  // already cp1252
  EXPECT_EQ(Utf8ToCp1252("\xE2\x82"), "\xE2\x82");        // truncated sequence
}

TEST(Cp1252, TellsAFileSavedInUtf8FromOneInCp1252) {
  std::string utf8 =
      "St\xC3\xBC"
      "ck \xE2\x82\xAC";
  EXPECT_TRUE(ConvertUtf8FileText(utf8));
  EXPECT_EQ(utf8,
            "St\xFC"
            "ck \x80");
  std::string marked = "\xEF\xBB\xBF[CFG]\r\n";  // the mark alone is enough
  EXPECT_TRUE(ConvertUtf8FileText(marked));
  EXPECT_EQ(marked, "[CFG]\r\n");
  // cp1252 stays as it is: plain ASCII, a lone high byte, or a high byte after a valid pair.
  for (std::string cp :
       {std::string("plain"), std::string("Br\xF6tchen"), std::string("\xC3\xBC and M\xFCller")}) {
    const std::string before = cp;
    EXPECT_FALSE(ConvertUtf8FileText(cp));
    EXPECT_EQ(cp, before);
  }
}

TEST(IniFile, ReadsSectionsKeysAndBooleans) {
  const IniFile ini = IniFile::Parse(
      "; comment\r\n[CFG]\r\noperator = Anna \r\n[TaxMode]\nExklSteuer=1\nbad=x\n"
      "[windows]\nCard=0\nnoequals\n");
  EXPECT_EQ(ini.GetString("cfg", "OPERATOR", "ich"), "Anna");
  EXPECT_EQ(ini.GetString("CFG", "operator2", "ein anderer"), "ein anderer");
  EXPECT_TRUE(ini.GetBool("TaxMode", "ExklSteuer", false));
  EXPECT_TRUE(ini.GetBool("TaxMode", "bad", true));
  EXPECT_FALSE(ini.GetBool("Windows", "Card", true));
  EXPECT_FALSE(ini.Get("Missing", "key"));
}

TEST(IniFile, NamesTheLinesItCouldNotRead) {
  const IniFile ini =
      IniFile::Parse("[A]\nk=v\nnoequals\n[unclosed\n = novalue\n; note\n\n# note\nb=2");
  EXPECT_EQ(ini.UnreadLines(), (std::vector<std::size_t>{3, 4, 5}));
  EXPECT_EQ(ini.GetString("A", "b", ""), "2");
  // A byte-order mark hides the first section: its line is named, not silently lost.
  EXPECT_EQ(IniFile::Parse("\xEF\xBB\xBF[A]\r\nk=v\r\n").UnreadLines(),
            std::vector<std::size_t>{1});
}

TEST(IniFile, WritesKeysInTheOrderTheyWereSet) {
  IniFile ini;
  ini.Set("Languages", "act", "Polish");
  ini.Set("CFG", "operator", "ich");
  ini.Set("Tax", "container2", "0700");
  ini.Set("CFG", "operator2", "du");
  ini.Set("Languages", "act", "English");
  EXPECT_EQ(ini.Serialize(),
            "[Languages]\nact=English\n\n[CFG]\noperator=ich\noperator2=du\n\n"
            "[Tax]\ncontainer2=0700\n");
  EXPECT_EQ(IniFile::Parse(ini.Serialize()).Serialize(), ini.Serialize());
}

TEST(IniFile, SavesAtomicallyAndReportsMissingFiles) {
  const auto folder = testing::FreshFolder();
  IniFile ini;
  ini.Set("A", "b", "c\x80");
  ASSERT_TRUE(ini.Save(folder / "x.ini"));
  auto loaded = IniFile::Load(folder / "x.ini");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->GetString("A", "b", ""), "c\x80");
  EXPECT_FALSE(std::filesystem::exists(folder / "x.ini.tmp"));
  auto missing = IniFile::Load(folder / "none.ini");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, ErrorKind::kIo);
  EXPECT_NE(missing.error().English().find("none.ini"), std::string::npos);
  EXPECT_FALSE(ini.Save(folder / "no" / "such" / "x.ini"));
}

TEST(LanguageTexts, LooksUpNumbersCaptionsAndHints) {
  const IniFile file = IniFile::Parse(
      "[Deutsch]\n12txt=Kassenbeleg\n113cap=Kassieren\n150hint=Netto\n143txt=Umsatzmonate\n"
      "200txt=zu weit\n[Polish]\n12txt=Paragon\n");
  LanguageTexts texts;
  texts.Load(file, "Deutsch");
  EXPECT_EQ(texts.LangText(12), "Kassenbeleg");
  EXPECT_EQ(texts.LangText(13), "");
  EXPECT_EQ(texts.LangText(0), "");
  EXPECT_EQ(texts.LangText(91), "");
  // Messages have numbers above 90; the table ends at kTextCount.
  EXPECT_EQ(texts.LangText(143), "Umsatzmonate");
  EXPECT_EQ(texts.LangText(LanguageTexts::kTextCount + 1), "");
  EXPECT_EQ(texts.Caption(113), "Kassieren");
  EXPECT_EQ(texts.Hint(150), "Netto");
  texts.Load(file, "Polish");
  EXPECT_EQ(texts.LangText(12), "Paragon");
  EXPECT_EQ(texts.Caption(113), "");
  texts.Load(file, "Klingonisch");
  EXPECT_EQ(texts.LangText(12), "");
}

TEST(LanguageTexts, AKeyTheFileLacksComesFromTheFileBeneath) {
  // The home's older copy: no text 208, caption 113 blanked on purpose, no Polish at all.
  const IniFile home = IniFile::Parse("[Deutsch]\n12txt=MEIN BELEG\n113cap=\n");
  const IniFile shipped = IniFile::Parse(
      "[Deutsch]\n12txt=KASSENBELEG\n113cap=Kassieren\n150hint=netto\n208txt=neu\n"
      "[Polish]\n12txt=PARAGON\n");
  LanguageTexts texts;
  texts.Load(home, shipped, "Deutsch");
  EXPECT_EQ(texts.LangText(12), "MEIN BELEG");
  EXPECT_EQ(texts.LangText(208), "neu");
  EXPECT_EQ(texts.Caption(113), "");  // present and empty: the home's own choice
  EXPECT_EQ(texts.Hint(150), "netto");
  EXPECT_EQ(texts.LangText(13), "");
  texts.Load(home, shipped, "Polish");
  EXPECT_EQ(texts.LangText(12), "PARAGON");
  texts.Load(home, shipped, "Francais");
  EXPECT_EQ(texts.LangText(12), "");
}

}  // namespace
}  // namespace kasse
