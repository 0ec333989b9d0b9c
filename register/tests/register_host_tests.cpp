// What the register tells its host and asks of it, and the span report's packed months.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "common/hex_text.h"
#include "common/tests/support/test_folders.h"
#include "register/register.h"
#include "register/tests/scripted_card.h"

namespace kasse {
namespace {

using testing::ScriptedCard;

struct CountingHost : RegisterHost {
  bool Confirm(const std::string&, const std::string&) override {
    ++questions;
    return answer;
  }
  void CardFailed() override { ++cardFailures; }
  void Changed() override { ++changes; }
  int questions = 0, cardFailures = 0, changes = 0;
  bool answer = true;
};

TEST(RegisterHost, HearsOnceForEachOperationAndEachMassSaleButNotForQuietCardPolls) {
  RegisterOptions options;
  options.home = testing::FreshHome();
  auto card = std::make_unique<ScriptedCard>();
  ScriptedCard& scripted = *card;
  Register reg(options, std::move(card));
  CountingHost host;
  reg.SetHost(&host);
  ASSERT_TRUE(reg.Start());
  EXPECT_EQ(host.changes, 1);

  host.changes = 0;
  ASSERT_TRUE(reg.BookProduct(0, "1"));
  EXPECT_EQ(host.changes, 1);
  // Summe and Kassieren inside the second Summe: one notice for the outer operation.
  ASSERT_TRUE(reg.Summe());
  ASSERT_TRUE(reg.Summe());
  EXPECT_EQ(host.changes, 3);
  EXPECT_TRUE(reg.CurrentSale().NoSaleOpen());
  // A refused switch changed nothing, but the host still hears the operation ended.
  ASSERT_TRUE(reg.SetSwitch(Register::Switch::kTraining, true));
  EXPECT_TRUE(reg.CurrentSale().settings.trainingMode);
  EXPECT_EQ(host.changes, 4);

  // The card-event timer runs every few milliseconds: nothing happened, nothing to show.
  host.changes = 0;
  for (int i = 0; i < 20; ++i)
    reg.ProcessCardEvents();
  EXPECT_EQ(host.changes, 0);

  Register::MassOptions mass;
  mass.transactions = 3;
  mass.maxPositions = 4;
  ASSERT_TRUE(reg.MassTransactions(mass, nullptr, {}));
  EXPECT_EQ(host.changes, 3 + 1);  // each sale, and the end of the run

  // A card that goes is a change and a card failure, told once each event.
  host.changes = 0;
  scripted.SetPresent(false);
  for (int i = 0; i < 250 && !reg.Card().Failed(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    reg.ProcessCardEvents();
  }
  ASSERT_TRUE(reg.Card().Failed());
  EXPECT_GE(host.changes, 1);
  EXPECT_EQ(host.cardFailures, 1);
  reg.SetHost(nullptr);
}

TEST(RegisterHost, ADeclinedQuestionSendsNothingAndWithoutAHostEveryAnswerIsOk) {
  RegisterOptions options;
  options.home = testing::FreshHome();
  auto card = std::make_unique<ScriptedCard>();
  testing::FakePcsc& pcsc = card->Pcsc();
  Register reg(options, std::move(card));
  ASSERT_TRUE(reg.Start());
  const std::string lifeCycle = reg.Card().State().lifeCycleCode;
  CountingHost host;
  host.answer = false;
  reg.SetHost(&host);
  // The status is read again all the same; a REPORT, unscripted, would fail the test.
  pcsc.Script(0, testing::StatusSteps(0x03, 2));
  EXPECT_FALSE(reg.Deactivate());
  EXPECT_EQ(host.questions, 1);  // the second question is never asked
  EXPECT_TRUE(pcsc.ScriptDone(0));
  EXPECT_EQ(reg.Card().State().lifeCycleCode, lifeCycle);

  reg.SetHost(nullptr);
  pcsc.Script(0, {{"80 42 05 00", "90 00", "// REPORT QOR Deactivate."}});
  pcsc.Script(0, testing::StatusSteps(0x04, 2));
  EXPECT_TRUE(reg.Deactivate());
  EXPECT_TRUE(pcsc.ScriptDone(0));
  EXPECT_NE(reg.Card().State().lifeCycleCode, lifeCycle);
}

TEST(SpanReport, PackedMonthsAreCheckedBeforeTheCardIsAsked) {
  EXPECT_EQ(HexWritten(*PackedReportMonth(1, 2009)), "20 09 01");
  EXPECT_EQ(HexWritten(*PackedReportMonth(12, 9999)), "99 99 12");
  for (const auto& [month, year] : {std::pair{0, 2009}, {13, 2009}, {1, 999}, {1, 10000}})
    EXPECT_FALSE(PackedReportMonth(month, year)) << month << "/" << year;

  RegisterOptions options;
  options.home = testing::FreshHome();
  auto card = std::make_unique<ScriptedCard>();
  testing::FakePcsc& pcsc = card->Pcsc();
  Register reg(options, std::move(card));
  ASSERT_TRUE(reg.Start());
  const auto span = [&reg](const char* first, const char* last) {
    const Result<void> outcome = reg.SpanReport(HexParse(first), HexParse(last));
    return outcome ? std::nullopt : std::optional<ErrorKind>(outcome.error().kind);
  };
  // Not a month: a month 13, a nibble that is no digit, a year below 1000, two bytes.
  for (const char* bad : {"20 09 13", "20 0A 01", "09 99 01", "20 09"})
    EXPECT_EQ(span(bad, "20 10 01"), ErrorKind::kMalformed) << bad;
  EXPECT_EQ(span("20 10 02", "20 10 01"), ErrorKind::kUnusableInput);
  // (An unscripted command would have failed the test.) A span across the turn of the year
  // goes to the card.
  pcsc.Script(0, {{"80 42 03 00", "90 00", "// REPORT Span."}});
  EXPECT_EQ(span("20 25 12", "20 26 01"), std::nullopt);
  EXPECT_TRUE(pcsc.ScriptDone(0));
}

}  // namespace
}  // namespace kasse
