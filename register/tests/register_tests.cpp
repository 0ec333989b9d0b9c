// The register controller over a scripted card (over the simulated one where the card must
// check a signature), and the refusal of an oversized cash-in.

#include "common/message_text.h"
#include "register/register.h"
#include "register/register_probe.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/cp1252.h"
#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "register/tests/sale_fixture.h"
#include "register/tests/scripted_card.h"
#include "register/tests/sim_card.h"

namespace kasse {
namespace {

using testing::FreshHome;
using testing::ScriptedCard;

TEST(RegisterConfig, VerifyHostDefaultsAndRoundTrips) {
  const auto home = FreshHome("config");
  RegisterConfig config(home);
  config.LoadConfiguration();
  EXPECT_EQ(config.verifyHost, "127.0.0.1:8080");
  config.verifyHost = "kasse.example:9000";
  ASSERT_TRUE(config.SaveConfiguration());
  RegisterConfig again(home);
  again.LoadConfiguration();
  EXPECT_EQ(again.verifyHost, "kasse.example:9000");
}

TEST(Register, SettingsReachTheStartupFileOnlyWhenSaved) {
  RegisterOptions options;
  options.home = FreshHome("monitors");
  Register reg(options, std::make_unique<ScriptedCard>());
  ASSERT_TRUE(reg.Start());
  ASSERT_TRUE(reg.SetOperatorName(2, "bob"));
  ASSERT_TRUE(reg.SetRates({"2000", "0700", "1900", "0000", "1070", "0550"}));
  ASSERT_TRUE(reg.SetSwitch(Register::Switch::kExclusiveTax, true));
  ASSERT_TRUE(reg.SetLanguage("English"));
  // Every setter changes the memory only: the file is written at the orderly close.
  EXPECT_FALSE(std::filesystem::exists(options.home / "cfg" / "start.ini"));
  ASSERT_TRUE(reg.SaveSettings(Register::MonitorsAtStart{true, false}));
  RegisterConfig again(options.home);
  again.LoadConfiguration();
  EXPECT_TRUE(again.showCardMonitor);
  EXPECT_FALSE(again.showFunctionMonitor);
  EXPECT_EQ(again.operatorName2, "bob");
  EXPECT_EQ(again.containerRate[0], "2000");
  EXPECT_TRUE(again.exclusiveTax);
  EXPECT_EQ(again.language, "English");
}

TEST(Register, SaleIsSignedAndTheUrlUsesTheConfiguredHost) {
  const auto home = FreshHome("sale");
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "start.ini", "[Verify]\nhost=kasse.example:9000\n"));
  RegisterOptions options;
  options.home = home;
  Register reg(options, std::make_unique<ScriptedCard>());
  ASSERT_TRUE(reg.Start());
  EXPECT_TRUE(reg.Warnings().empty());
  ASSERT_FALSE(reg.Products().Products().empty());
  ASSERT_TRUE(reg.BookProduct(0, "2"));
  EXPECT_FALSE(reg.BookProduct(reg.Products().Products().size(), ""));
  EXPECT_FALSE(reg.BookProduct(0, "zwei"));
  // Rates and tax mode belong to the whole sale.
  EXPECT_FALSE(reg.SetRates({"1900", "0700", "1900", "0000", "1070", "0550"}));
  EXPECT_FALSE(reg.SetSwitch(Register::Switch::kExclusiveTax, true));
  ASSERT_TRUE(reg.Summe());
  ASSERT_TRUE(reg.Kassieren());
  EXPECT_EQ(reg.LastVerifyUrl().rfind("http://kasse.example:9000/verify.php?t1=", 0), 0u);
  EXPECT_TRUE(reg.CurrentSale().NoSaleOpen());
  EXPECT_FALSE(reg.Card().Failed());
  EXPECT_FALSE(reg.SetRates({"1900", "07", "1900", "0000", "1070", "0550"}));
  EXPECT_TRUE(reg.SetRates({"2000", "0700", "1900", "0000", "1070", "0550"}));
}

TEST(Register, ALanguageNeitherFileHasIsTakenWithEmptyTextsAndAWarning) {
  const auto home = FreshHome("language");
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "lang.ini", "[Klingon]\n1txt=tlh\n"));
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "start.ini", "[Languages]\nact=Vulkanisch\n"));
  RegisterOptions options;
  options.home = home;
  Register reg(options, std::make_unique<ScriptedCard>());
  ASSERT_TRUE(reg.Start());
  ASSERT_EQ(reg.Warnings().size(), 1u);
  EXPECT_EQ(EnglishTexts(reg.Warnings())[0],
            "cfg/lang.ini has no texts for the language Vulkanisch; the register goes on with "
            "empty texts");
  EXPECT_EQ(reg.Texts().LangText(12), "");
  // The register goes on selling with empty texts.
  ASSERT_TRUE(reg.BookProduct(0, ""));
  ASSERT_TRUE(reg.Summe());
  EXPECT_TRUE(reg.Kassieren());
  // A language only the shipped file has is no missing language: its texts come from there.
  ASSERT_TRUE(reg.SetLanguage("English"));
  EXPECT_EQ(reg.Config().language, "English");
  EXPECT_EQ(reg.Warnings().size(), 1u);
  EXPECT_FALSE(reg.Texts().LangText(12).empty());
}

using sale_test::SaleFixture;

TEST_F(SaleFixture, ACashInTheCardNeverSawLeavesTheSaleTotalledAndTheReceiptAsItWas) {
  ASSERT_TRUE(sale.BookPosition(sale_test::Product("Brot", 250)));
  ASSERT_TRUE(sale.TotalSale());
  const std::vector<std::string> before = sale.ReceiptLines();
  for (int attempt = 0; attempt < 2; ++attempt) {
    ASSERT_TRUE(sale.BeginCashIn());
    sale.CancelCashIn();  // the record did not fit the card
    EXPECT_EQ(sale.ReceiptLines(), before);
    EXPECT_EQ(sale.State(), SaleState::kTotalled);
    EXPECT_TRUE(sale.KassierenEnabled());
  }
}

// A console that changes one data byte of what it holds, and counts the holds; it is its own
// host.
class TamperingConsole : public DebugHold, public RegisterHost {
 public:
  DebugHold* CommandHold() override { return this; }
  Bytes HoldForDebug(Bytes command) override {
    ++holds;
    if (tamper && command.size() > 12) command[12] ^= 0x10;
    return command;
  }
  int holds = 0;
  bool tamper = true;
};

TEST(Register, TheCardConfirmsOnlyTheUnchangedVerifyRecord) {
  RegisterOptions options;
  options.home = FreshHome("hold");
  Register reg(options, testing::SimCard(options.home / "card.state"));
  ASSERT_TRUE(reg.Start());
  TamperingConsole console;
  reg.SetHost(&console);
  ASSERT_TRUE(reg.SetSwitch(Register::Switch::kVerifyOnCard, true));
  ASSERT_TRUE(reg.SetSwitch(Register::Switch::kManipulateRecord, true));
  ASSERT_TRUE(reg.SetSwitch(Register::Switch::kManipulateTransaction, true));

  console.tamper = false;
  ASSERT_TRUE(reg.BookProduct(0, "1") && reg.Summe() && reg.Kassieren());
  EXPECT_EQ(console.holds, 2);  // the TRANSACTION, then the VERIFY SIGNATURE
  EXPECT_EQ(RegisterProbe::Signing(reg).LastVerification(), std::optional<bool>(true));
  EXPECT_EQ(reg.CurrentSale().ReceiptColour(), kReceiptVerified);

  ASSERT_TRUE(reg.SetSwitch(Register::Switch::kManipulateTransaction, false));
  console.tamper = true;
  ASSERT_TRUE(reg.BookProduct(0, "1") && reg.Summe());
  EXPECT_FALSE(reg.Kassieren());
  EXPECT_EQ(console.holds, 3);
  EXPECT_EQ(RegisterProbe::Signing(reg).LastVerification(), std::optional<bool>(false));
  EXPECT_EQ(reg.CurrentSale().ReceiptColour(), kReceiptFailed);
  EXPECT_FALSE(reg.Card().Failed());
}

TEST(Register, FilesSavedAsUtf8AreReadWithConversionAndNamed) {
  const auto home = FreshHome("utf8");
  RegisterOptions options;
  options.home = home;
  std::vector<std::string> cp1252Names, cp1252Texts;
  {
    Register before(options, std::make_unique<ScriptedCard>());
    ASSERT_TRUE(before.Start());
    for (const TProd& product : before.Products().Products())
      cp1252Names.push_back(product.name);
    for (int number = 1; number <= 90; ++number)
      cp1252Texts.push_back(before.Texts().LangText(number));
  }
  for (const char* file : {"cfg/lang.ini", "Produkte/Standard.xml"})
    ASSERT_TRUE(WriteFileAtomic(home / file, Cp1252ToUtf8(ReadFile(home / file).value())));
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "start.ini",
                              "\xEF\xBB\xBF[CFG]\r\noperator=J\xC3\xBCrgen\r\n"));

  Register reg(options, std::make_unique<ScriptedCard>());
  ASSERT_TRUE(reg.Start());
  ASSERT_EQ(reg.Warnings().size(), 3u);
  EXPECT_EQ(EnglishTexts(reg.Warnings())[0].rfind("cfg/start.ini: saved as UTF-8", 0), 0u);
  EXPECT_EQ(EnglishTexts(reg.Warnings())[1].rfind("cfg/lang.ini: saved as UTF-8", 0), 0u);
  EXPECT_NE(EnglishTexts(reg.Warnings())[2].find("Standard.xml: saved as UTF-8"),
            std::string::npos);
  EXPECT_EQ(reg.Config().operatorName1, "J\xFCrgen");
  std::vector<std::string> names, texts;
  for (const TProd& product : reg.Products().Products())
    names.push_back(product.name);
  for (int number = 1; number <= 90; ++number)
    texts.push_back(reg.Texts().LangText(number));
  EXPECT_EQ(names, cp1252Names);
  EXPECT_EQ(texts, cp1252Texts);
}

}  // namespace
}  // namespace kasse

namespace kasse {
namespace {

TEST(Register, ASaleTheCardLeavesUnansweredIsNotCashedInAndItsLateSignatureIsJournalled) {
  const auto home = FreshHome("patience");
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "start.ini", "[Card]\npatience=50ms\n"));
  RegisterOptions options;
  options.home = home;
  auto card = std::make_unique<ScriptedCard>();
  testing::FakePcsc& pcsc = card->Pcsc();
  std::filesystem::path sFile;
  {
    Register reg(options, std::move(card));
    // Declared after the register, so it lets the card answer before the register ends.
    const std::unique_ptr<testing::FakePcsc, void (*)(testing::FakePcsc*)> release(
        &pcsc, [](testing::FakePcsc* held) { held->ReleaseTransmits(); });
    ASSERT_TRUE(reg.Start());
    ASSERT_TRUE(reg.BookProduct(0, ""));
    ASSERT_TRUE(reg.Summe());
    pcsc.HoldTransmits();  // the card keeps its TRANSACTION answer until the test lets it go
    const std::vector<std::string> totalled = reg.CurrentSale().ReceiptLines();
    const Result<void> cashed = reg.Kassieren();
    ASSERT_FALSE(cashed);
    EXPECT_NE(cashed.error().English().find("stopped answering"), std::string::npos);
    EXPECT_TRUE(reg.Card().Failed());
    EXPECT_NE(reg.Card().Failure().value_or(Error()).English().find("stopped answering"),
              std::string::npos)
        << reg.Card().Failure().value_or(Error()).English();
    // Still totalled, the receipt as it was, no QR link.
    EXPECT_TRUE(reg.CurrentSale().KassierenEnabled());
    EXPECT_EQ(reg.CurrentSale().ReceiptLines(), totalled);
    EXPECT_TRUE(reg.LastVerifyUrl().empty());
    EXPECT_FALSE(reg.Kassieren());
    sFile = RegisterProbe::JournalFiles(reg).SName();
    const Result<std::string> before = ReadFile(sFile);
    ASSERT_TRUE(before);
    EXPECT_NE(before->find("</transactionRequest></transactionEncoded>"), std::string::npos);
    EXPECT_EQ(before->find("<transactionLate>"), std::string::npos);
  }
  // The register waited for the late answer as it ended.
  const Result<std::string> s = ReadFile(sFile);
  ASSERT_TRUE(s);
  EXPECT_NE(s->find("</transactionEncoded><transactionLate><transactionRequest>"),
            std::string::npos)
      << *s;
  EXPECT_NE(s->find("</transactionResponse></transactionLate>"), std::string::npos);
  EXPECT_TRUE(s->ends_with("</kavelo>")) << *s;
}

}  // namespace
}  // namespace kasse
