#include "register/register_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/files.h"
#include "common/message_text.h"
#include "common/tests/support/test_folders.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

// A fresh register home with a cfg folder, removed afterwards.
struct ConfigHome : ::testing::Test {
  ConfigHome() {
    home = testing::FreshFolder();
    fs::create_directories(home / "cfg");
  }
  ~ConfigHome() override { fs::remove_all(home); }
  void WriteStartIni(const std::string& text) const {
    std::ofstream(home / "cfg" / "start.ini", std::ios::binary) << text;
  }

  fs::path home;
};

TEST_F(ConfigHome, MissingFileGivesTheDefaults) {
  RegisterConfig config(home);
  EXPECT_TRUE(config.LoadConfiguration().empty());
  EXPECT_EQ(config.language, "Deutsch");
  EXPECT_EQ(config.operatorName1, "ich");
  EXPECT_EQ(config.operatorName2, "ein anderer");
  EXPECT_EQ(config.containerRate,
            (std::array<std::string, 6>{"1900", "0700", "1900", "0000", "1070", "0550"}));
  EXPECT_FALSE(config.IsExclusiveTax());
  EXPECT_FALSE(config.showCardMonitor);
  EXPECT_FALSE(config.showFunctionMonitor);
  EXPECT_DOUBLE_EQ(config.ContainerRate(5), 0.107);
  EXPECT_DOUBLE_EQ(config.ContainerRate(4), 0.0);
  EXPECT_DOUBLE_EQ(config.ContainerRate(0), 0.0);
  EXPECT_DOUBLE_EQ(config.ContainerRate(7), 0.0);
  EXPECT_EQ(config.ContainerRates()[5], 0.055);
  EXPECT_EQ(config.ActiveOperatorName(), "ich");
  config.activeOperator = 2;
  EXPECT_EQ(config.ActiveOperatorName(), "ein anderer");
}

TEST(RegisterConfig, ANewHomesLanguageFollowsTheLocaleInPosixOrder) {
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    const char* section;
  } cases[] = {
      {"", "", "de_DE.UTF-8", "Deutsch"},
      {"", "", "en_GB.UTF-8", "English"},
      {"", "", "fr_CA.ISO-8859-1@euro", "Francais"},
      {"", "", "pl_PL", "Polish"},
      {"", "", "EN_us", "English"},
      {"", "", "fr", "Francais"},
      {"", "", "nl_NL.UTF-8", "Deutsch"},  // a language without texts
      {"", "", "C.UTF-8", "Deutsch"},
      {"", "", "POSIX", "Deutsch"},
      {"", "", "", "Deutsch"},
      {"", "pl_PL.UTF-8", "en_US.UTF-8", "Polish"},               // LC_MESSAGES before LANG
      {"fr_FR.UTF-8", "pl_PL.UTF-8", "en_US.UTF-8", "Francais"},  // LC_ALL before both
      {"C", "pl_PL.UTF-8", "en_US.UTF-8", "Deutsch"},
      {"", "", "english", "Deutsch"},  // not a locale name
  };
  for (const Case& c : cases)
    EXPECT_EQ(RegisterConfig::LanguageOfLocale(c.lcAll, c.lcMessages, c.lang), c.section)
        << c.lcAll << "|" << c.lcMessages << "|" << c.lang;
}

TEST_F(ConfigHome, ReadsEveryKey) {
  WriteStartIni(
      "[Languages]\nact=Polish\n[CFG]\noperator=Max M\xFCller\noperator2=Eva\n"
      "[Tax]\ncontainer1=1600\ncontainer6=0000\n[TaxMode]\nExklSteuer=1\n"
      "[Windows]\nCard=1\nFunc=7\n");
  RegisterConfig config(home);
  EXPECT_TRUE(config.LoadConfiguration().empty());
  EXPECT_EQ(config.language, "Polish");
  EXPECT_EQ(config.operatorName1, "Max M\xFCller");
  EXPECT_EQ(config.containerRate[0], "1600");
  EXPECT_EQ(config.containerRate[1], "0700");
  EXPECT_DOUBLE_EQ(config.ContainerRate(6), 0.0);
  EXPECT_TRUE(config.IsExclusiveTax());
  EXPECT_TRUE(config.showCardMonitor);
  EXPECT_TRUE(config.showFunctionMonitor);
}

TEST_F(ConfigHome, LinesThatAreNoSettingAreReportedAndTheRestIsRead) {
  WriteStartIni("operator=vor\n[CFG]\noperator=Anna\n\x01\x02junk\n[Tax\n1\n2\n3\n");
  RegisterConfig config(home);
  const std::vector<std::string> report = EnglishTexts(config.LoadConfiguration());
  ASSERT_EQ(report.size(), 5u);
  EXPECT_EQ(report[0], "cfg/start.ini: line 4 is neither a section nor a key=value line; skipped");
  EXPECT_EQ(report[3], "cfg/start.ini: 2 more lines skipped");
  EXPECT_EQ(report[4], "cfg/start.ini: keys before the first section are not read");
  EXPECT_EQ(config.operatorName1, "Anna");
}

TEST_F(ConfigHome, RateThatIsNotFourDigitsKeepsItsDefaultAndIsReported) {
  WriteStartIni(
      "[Tax]\ncontainer2=700\ncontainer3=19,0\ncontainer4=abcd\ncontainer5=1071\n"
      "[CFG]\noperator=abcdefghijklmnopqrstuvwxyz\n");
  RegisterConfig config(home);
  const std::vector<std::string> report = EnglishTexts(config.LoadConfiguration());
  ASSERT_EQ(report.size(), 3u);
  EXPECT_NE(report[0].find("container2=700"), std::string::npos);
  EXPECT_EQ(config.containerRate[1], "0700");
  EXPECT_EQ(config.containerRate[2], "1900");
  EXPECT_EQ(config.containerRate[3], "0000");
  EXPECT_EQ(config.containerRate[4], "1071");
  EXPECT_EQ(config.operatorName1, "abcdefghijklmnop");
}

TEST_F(ConfigHome, SaveWritesTheTableOrderAndRoundTrips) {
  RegisterConfig config(home);
  config.language = "Polish";
  config.containerRate[1] = "0700";
  config.exclusiveTax = true;
  config.showFunctionMonitor = true;
  ASSERT_TRUE(config.SaveConfiguration());
  const Result<std::string> text = ReadFile(home / "cfg" / "start.ini");
  ASSERT_TRUE(text);
  const std::vector<std::string> order = {"[Languages]",
                                          "act=Polish",
                                          "[CFG]",
                                          "operator=ich",
                                          "operator2=ein anderer",
                                          "[Tax]",
                                          "container1=1900",
                                          "container2=0700",
                                          "container6=0550",
                                          "[TaxMode]",
                                          "ExklSteuer=1",
                                          "[Windows]",
                                          "Card=0",
                                          "Func=1"};
  std::size_t at = 0;
  for (const std::string& part : order) {
    const std::size_t found = text->find(part, at);
    ASSERT_NE(found, std::string::npos) << part;
    at = found;
  }
  RegisterConfig again(home);
  EXPECT_TRUE(again.LoadConfiguration().empty());
  EXPECT_EQ(again.language, "Polish");
  EXPECT_EQ(again.containerRate, config.containerRate);
  EXPECT_TRUE(again.IsExclusiveTax());
  EXPECT_TRUE(again.showFunctionMonitor);
}

TEST_F(ConfigHome, SaveFailureNamesTheFile) {
  fs::remove_all(home / "cfg");
  RegisterConfig config(home);
  const Result<void> saved = config.SaveConfiguration();
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().kind, ErrorKind::kIo);
  EXPECT_NE(saved.error().English().find("start.ini"), std::string::npos);
}

}  // namespace
}  // namespace kasse

namespace kasse {
namespace {

TEST(RegisterConfig, CardPatienceIsMillisecondsOrSecondsWithinBounds) {
  using std::chrono::milliseconds;
  const struct {
    const char* text;
    std::optional<milliseconds> patience;
  } cases[] = {
      {"10s", milliseconds(10000)},
      {"2500", milliseconds(2500)},
      {"2500ms", milliseconds(2500)},
      {"10ms", milliseconds(10)},
      {"600s", milliseconds(600000)},
      {"9ms", std::nullopt},
      {"601s", std::nullopt},
      {"", std::nullopt},
      {"s", std::nullopt},
      {"1.5s", std::nullopt},
      {"-5s", std::nullopt},
      {"10 s", std::nullopt},
      {"99999999999", std::nullopt},
      {"10m", std::nullopt},
  };
  for (const auto& c : cases) {
    const Result<milliseconds> parsed = RegisterConfig::ParsePatience(c.text);
    EXPECT_EQ(parsed ? std::optional<milliseconds>(*parsed) : std::nullopt, c.patience) << c.text;
  }
}

TEST_F(ConfigHome, CardPatienceIsReadReportedWhenRefusedAndKeptWhenSaved) {
  WriteStartIni("[Card]\npatience=2s\n");
  RegisterConfig config(home);
  EXPECT_TRUE(config.LoadConfiguration().empty());
  EXPECT_EQ(config.cardPatience, std::chrono::milliseconds(2000));
  ASSERT_TRUE(config.SaveConfiguration());
  RegisterConfig again(home);
  (void)again.LoadConfiguration();
  EXPECT_EQ(again.cardPatience, std::chrono::milliseconds(2000));

  WriteStartIni("[Card]\npatience=soon\n");
  RegisterConfig refused(home);
  const std::vector<std::string> report = EnglishTexts(refused.LoadConfiguration());
  ASSERT_EQ(report.size(), 1u);
  EXPECT_NE(report[0].find("[Card] patience=soon"), std::string::npos) << report[0];
  EXPECT_EQ(refused.cardPatience, std::chrono::milliseconds(10000));
}

}  // namespace
}  // namespace kasse
