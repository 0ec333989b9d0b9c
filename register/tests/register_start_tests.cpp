// The register's start: the language of a new home, the card check at the end of the insertion
// debounce (as the window runs it), the backend's start error and notices, and the card
// monitor's log from the first command on.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "common/files.h"
#include "common/message_text.h"
#include "common/tests/support/test_folders.h"
#include "register/register.h"
#include "register/tests/scripted_card.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FreshHome;
using testing::ScriptedCard;

RegisterOptions InHome(const fs::path& home) {
  RegisterOptions options;
  options.home = home;
  return options;
}

TEST(RegisterStart, ANewHomeSpeaksTheLocalesLanguageUntilTheUserChoosesAnother) {
  const fs::path home = FreshHome();
  ASSERT_FALSE(fs::exists(home / "cfg" / "start.ini"));
  RegisterOptions options = InHome(home);
  options.newHomeLanguage = "English";
  {
    Register reg(options, std::make_unique<ScriptedCard>());
    ASSERT_TRUE(reg.Start());
    EXPECT_EQ(reg.Config().language, "English");
    EXPECT_EQ(reg.Texts().Current(), "English");
    EXPECT_EQ(reg.Texts().LangText(1), "uk");
    ASSERT_TRUE(reg.SaveSettings());
  }
  // The home is no longer new: its settings name the language, whatever the locale says.
  options.newHomeLanguage = "Polish";
  {
    Register reg(options, std::make_unique<ScriptedCard>());
    ASSERT_TRUE(reg.Start());
    EXPECT_EQ(reg.Config().language, "English");
    ASSERT_TRUE(reg.SetLanguage("Francais"));
    ASSERT_TRUE(reg.SaveSettings());
  }
  {
    Register reg(options, std::make_unique<ScriptedCard>());
    ASSERT_TRUE(reg.Start());
    EXPECT_EQ(reg.Config().language, "Francais");
  }
  // Settings without a language (written by hand) still leave the choice to the locale.
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "start.ini", "[CFG]\noperator=Eva\n"));
  Register reg(options, std::make_unique<ScriptedCard>());
  ASSERT_TRUE(reg.Start());
  EXPECT_EQ(reg.Config().language, "Polish");
  EXPECT_EQ(reg.Config().operatorName1, "Eva");
}

TEST(RegisterStart, WithoutALocaleLanguageANewHomeIsGerman) {
  Register reg(InHome(FreshHome()), std::make_unique<ScriptedCard>());
  ASSERT_TRUE(reg.Start());
  EXPECT_EQ(reg.Config().language, "Deutsch");
}

TEST(RegisterStart, TheWindowsCheckRunsHalfASecondAfterTheScan) {
  RegisterOptions options = InHome(FreshHome());
  options.checkAfterDebounce = true;
  Register reg(options, std::make_unique<ScriptedCard>());
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(reg.Start());
  // Scanned and selected, not yet checked: no status, no certificate, no sale yet.
  EXPECT_FALSE(reg.Card().Checked());
  EXPECT_FALSE(reg.Card().Failed());
  EXPECT_TRUE(reg.Card().State().TpId.empty());
  EXPECT_TRUE(reg.Card().Reader().empty());
  EXPECT_FALSE(reg.Kassieren());
  const auto deadline = started + 10s;
  while (!reg.Card().Checked() && !reg.Card().Failed() &&
         std::chrono::steady_clock::now() < deadline) {
    reg.ProcessCardEvents();
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_TRUE(reg.Card().Checked()) << reg.Card().Failure().value_or(Error()).English();
  EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms);
  EXPECT_FALSE(reg.Card().State().TpId.empty());
  EXPECT_TRUE(reg.Card().InRegister());
  EXPECT_EQ(reg.Card().Reader(), ScriptedCard::kReader);
  ASSERT_TRUE(reg.BookProduct(0, ""));
  ASSERT_TRUE(reg.Summe());
  EXPECT_TRUE(reg.Kassieren());
}

// What the card says besides its answers: a notice whenever it comes (before the start, or
// from the card's own thread later) is a warning and a line of the card monitor.
TEST(RegisterStart, TheCardsNoticesBecomeWarningsAndCardMonitorLines) {
  auto card = std::make_unique<ScriptedCard>();
  ScriptedCard& scripted = *card;
  scripted.Notice("card.state: leftovers removed");
  Register reg(InHome(FreshHome()), std::move(card));
  ASSERT_TRUE(reg.Start());
  EXPECT_EQ(EnglishTexts(reg.Warnings()),
            std::vector<std::string>{"card.state: leftovers removed"});
  std::thread([&scripted] { scripted.Notice("card.state: snapshot not written"); }).join();
  reg.ProcessCardEvents();
  reg.ProcessCardEvents();  // taken once
  EXPECT_EQ(EnglishTexts(reg.Warnings()),
            (std::vector<std::string>{"card.state: leftovers removed",
                                      "card.state: snapshot not written"}));
  const std::string log = reg.Card().Log().Text();
  EXPECT_NE(log.find("card.state: leftovers removed"), std::string::npos) << log;
  EXPECT_NE(log.find("card.state: snapshot not written"), std::string::npos) << log;
}

// A card in the process that could not start says why, not just that no card was found.
TEST(RegisterStart, ACardThatCannotStartIsTheCardFailureWithItsReason) {
  auto card = std::make_unique<ScriptedCard>();
  card->startError = "/s/card-v2.state.lock: Not a directory";
  card->SetPresent(false);
  Register reg(InHome(FreshHome()), std::move(card));
  const Result<void> started = reg.Start();
  ASSERT_FALSE(started);
  EXPECT_TRUE(reg.Card().Failed());
  EXPECT_NE(reg.Card().Failure().value_or(Error()).English().find(
                "/s/card-v2.state.lock: Not a directory"),
            std::string::npos)
      << reg.Card().Failure().value_or(Error()).English();
  EXPECT_EQ(started.error().English(), reg.Card().Failure().value_or(Error()).English());
}

// pcsc-lite pointed at a socket where no service listens: the register finds no reader.
class WithoutPcscService : public ::testing::Test {
 protected:
  WithoutPcscService() {
    if (const char* given = std::getenv(kSocket)) previous_ = given;
    ::setenv(kSocket, (testing::NewFolder("pcscd") / "no-service.comm").c_str(), 1);
  }
  ~WithoutPcscService() override {
    if (previous_)
      ::setenv(kSocket, previous_->c_str(), 1);
    else
      ::unsetenv(kSocket);
  }

 private:
  static constexpr const char* kSocket = "PCSCLITE_CSOCK_NAME";
  std::optional<std::string> previous_;
};

TEST_F(WithoutPcscService, TheCardMonitorLogsTheStartAlsoWhenItsWindowIsHidden) {
  Register reg(InHome(FreshHome()), std::make_unique<PcscLiteBackend>());
  ASSERT_FALSE(reg.Start());
  ASSERT_FALSE(reg.Config().showCardMonitor);  // the monitor is hidden at start
  EXPECT_TRUE(reg.Card().Failed());
  EXPECT_FALSE(reg.Card().InRegister());
  std::string log;
  for (const MonitorLine& line : reg.Card().Log().Lines())
    log += line.text + "\n";
  EXPECT_NE(log.find("Start-Card\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Anzahl der angeschlossenen Leser 00\n"), std::string::npos) << log;
}

TEST_F(WithoutPcscService, TheWindowsStartFailsAtOnceWhenTheScanFindsNoReader) {
  RegisterOptions options = InHome(FreshHome());
  options.checkAfterDebounce = true;
  Register reg(options, std::make_unique<PcscLiteBackend>());
  const Result<void> started = reg.Start();
  ASSERT_FALSE(started);
  EXPECT_TRUE(reg.Card().Failed());
  EXPECT_EQ(started.error().English(), reg.Card().Failure().value_or(Error()).English());
}

}  // namespace
}  // namespace kasse
