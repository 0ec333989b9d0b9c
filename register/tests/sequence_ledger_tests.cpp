// The register's own memory of the numbers it journalled: a card put back from a backup gives
// out numbers a second time, and the register refuses each of them before it becomes a
// receipt, from its journals after a restart as much as within a run.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/files.h"
#include "common/message_text.h"
#include "common/tests/support/text_checks.h"
#include "register/messages.h"
#include "register/register_probe.h"
#include "register/sequence_ledger.h"
#include "register/tests/journalled_register.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

struct Rollback : ::testing::Test, JournalledRegister {
  fs::path backup = home / "backup";

  // The card's issuer lives beside the card, so that a card made anew gets number 1 again.
  void SetUp() override {
    const char* before = std::getenv("XDG_STATE_HOME");
    stateHome_ = before != nullptr ? before : "";
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    Start();
  }
  void TearDown() override {
    reg.reset();
    ::setenv("XDG_STATE_HOME", stateHome_.c_str(), 1);
  }
  std::string stateHome_;

  void SellSigned(int count) {
    for (int i = 0; i < count; ++i)
      ASSERT_TRUE(Sale());
  }
  // The card's files as they are now, to be put back later as a restored backup would.
  void BackUpCard() {
    reg.reset();
    fs::copy(state, backup, fs::copy_options::recursive);
    Start();
  }
  void RestoreCard() {
    reg.reset();
    fs::copy(backup, state, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    Start();
  }
  std::string SJournals() {
    std::string text;
    for (const auto& entry : fs::directory_iterator(home / "Journal"))
      if (entry.path().filename().string().ends_with("S.xml"))
        text += ReadFile(entry.path()).value();
    return text;
  }
};

TEST_F(Rollback, ANumberTheCardGivesASecondTimeIsRefusedAndKeptAsEvidence) {
  SellSigned(2);
  BackUpCard();
  SellSigned(3);  // numbers 3, 4 and 5
  RestoreCard();  // the card believes it gave 2 last

  const Result<void> sold = Sale();
  ASSERT_FALSE(sold);
  EXPECT_TRUE(sold.error().Is(msg::kNumberRepeated));
  EXPECT_NE(sold.error().English().find("the card answered number 3, but 3 was already "
                                        "journalled on 20"),
            std::string::npos)
      << sold.error().English();
  EXPECT_TRUE(reg->Card().Failed());
  EXPECT_EQ(reg->Card().Failure().value_or(Error()).English(), sold.error().English());
  // No receipt: the sale stays totalled, no URL of it exists.
  EXPECT_TRUE(reg->CurrentSale().KassierenEnabled());
  EXPECT_EQ(reg->LastVerifyUrl().find("t1="), std::string::npos);
  reg.reset();
  const std::string s = SJournals();
  EXPECT_EQ(testing::Occurrences(s, "<transactionRejected>"), 1u);
  EXPECT_EQ(testing::Occurrences(s, "<transactionResponse>"), 5u);
}

TEST_F(Rollback, ASignedReportWithARepeatedNumberIsRefusedToo) {
  ASSERT_TRUE(reg->DailyClosing(ClosingKind::kSigned));
  BackUpCard();
  ASSERT_TRUE(reg->DailyClosing(ClosingKind::kSigned));
  RestoreCard();
  const Result<void> closed = reg->DailyClosing(ClosingKind::kSigned);
  ASSERT_FALSE(closed);
  EXPECT_NE(closed.error().English().find("number 2, but 2 was already journalled"),
            std::string::npos)
      << closed.error().English();
  EXPECT_TRUE(reg->Card().Failed());
  // An unsigned closing takes no number: it repeats the last one and is never refused.
  RestoreCard();
  EXPECT_TRUE(reg->DailyClosing(ClosingKind::kUnsigned));
  reg.reset();
  EXPECT_EQ(testing::Occurrences(SJournals(), "<reportRejected>"), 1u);
}

TEST_F(Rollback, ANewKeyUnderAKnownNameIsANewCardWithAWarning) {
  SellSigned(2);
  reg.reset();
  // Card and issuer gone: the next card is QOR-SIM 1 again, with a key of its own.
  fs::remove_all(state);
  Start();
  std::string warnings;
  for (const std::string& warning : EnglishTexts(reg->Warnings()))
    warnings += warning + "\n";
  EXPECT_NE(warnings.find("The card QOR-SIM 1 signs with a new key"), std::string::npos)
      << warnings;
  ASSERT_TRUE(Sale());
  EXPECT_NE(reg->CurrentSale().ReceiptText().find("Transaktionsnummer: 1"), std::string::npos);
}

TEST_F(Rollback, ANumberBelowAGapNamesTheLastOneJournalled) {
  SellSigned(1);
  BackUpCard();
  SellSigned(1);
  reg.reset();
  // The journals of numbers 1 and 2 are gone (moved aside); a later run journals number 3,
  // and the refusal of 2 names the last number the register knows.
  for (const auto& entry : fs::directory_iterator(home / "Journal"))
    if (entry.path().extension() == ".xml") fs::remove(entry.path());
  Start();
  EXPECT_TRUE(Sale());  // the register no longer knows any number of this card
  RestoreCard();
  const Result<void> sold = Sale();
  ASSERT_FALSE(sold);
  EXPECT_TRUE(sold.error().Is(msg::kNumberNotAbove));
  EXPECT_NE(sold.error().English().find("the card answered number 2, but 3 was already journalled"),
            std::string::npos)
      << sold.error().English();
}

}  // namespace
}  // namespace kasse
