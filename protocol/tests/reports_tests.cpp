#include "protocol/reports.h"

#include "common/base_n.h"
#include "common/hex_text.h"
#include "protocol/tests/card_script.h"
#include "protocol/tests/record_test_support.h"

namespace kasse {
namespace {

std::string SignedAnswer() {
  std::string answer =
      "C0 01 03 C4 03 41 42 43 C5 01 2A CC 01 07 D2 01 01 D3 01 05"
      " E1 08 D8 02 11 9C DB 02 19 00 9E 30";
  for (int i = 0; i < 48; ++i)
    answer += " 11";
  return answer;
}

struct ReportsTest : testing::RecordFixture {
  ScriptedCard card;
  ScriptedDialog host = [] {
    ScriptedDialog dialog;
    dialog.answerOk = false;
    return dialog;
  }();
  Reports reports{record, card, host};
  void SetUp() override {
    texts.Load(IniFile::Parse("[Deutsch]\n25txt=Datum\n26txt=Zeit\n36txt=Tagesabschluss\n"
                              "37txt=Summe von\n38txt=bis\n70txt=Aktivierung fehlgeschlagen\n"
                              "47txt=Bericht\n"),
               "Deutsch");
    ASSERT_TRUE(journal.OpenJournalPair());
  }
};

TEST_F(ReportsTest, SignedDailyClosingIsJournalledDecodedAndSigned) {
  card.steps.push_back(
      {"8042010"
       "00A CD04202605 12CE020930 00",
       true, SignedAnswer()});
  card.steps.front().expectPrefix = "804201000ACD0420260512CE02093000";
  const CardOutcome outcome = reports.DailyClosing(ClosingKind::kSigned);
  ASSERT_TRUE(outcome.Status());
  ASSERT_TRUE(journal.CloseJournalPair());
  const std::string s = SFile();
  const std::string l = LFile();
  // Request data: date and time only (header and Le left out).
  EXPECT_NE(s.find("<reportEncoded><reportRequest>zQQgJgUSzgIJMA==</reportRequest>"
                   "<reportResponse>"),
            std::string::npos);
  EXPECT_NE(l.find("<report><date>20260512</date><time>0930</time><lifeCycle>03</lifeCycle>"),
            std::string::npos);
  EXPECT_NE(l.find("<seqNoReport>7</seqNoReport>"), std::string::npos);
  EXPECT_NE(l.find("<sig>" + std::string(96, '1') + "</sig></report>"), std::string::npos);
  EXPECT_TRUE(testing::WellFormedXml(s, home / "s.xml"));
  EXPECT_TRUE(testing::WellFormedXml(l, home / "l.xml"));
  EXPECT_NE(outcome.receipt.responseText.find("Tagesabschluss"), std::string::npos);
  EXPECT_NE(outcome.receipt.responseText.find("Bericht: \t7"), std::string::npos);
  EXPECT_EQ(outcome.receipt.signature, Bytes(48, 0x11));
  EXPECT_TRUE(outcome.receipt.signatureAlways);
}

TEST_F(ReportsTest, UnsignedClosingUsesP1TwoAndAFailureStillClosesTheJournal) {
  card.steps.push_back({"80420200", false, ""});
  const CardOutcome outcome = reports.DailyClosing(ClosingKind::kUnsigned);
  EXPECT_FALSE(outcome.Status());
  ASSERT_TRUE(journal.CloseJournalPair());
  EXPECT_NE(SFile().find("</reportRequest></reportEncoded>"), std::string::npos);
  EXPECT_NE(LFile().find("<time>0930</time></report>"), std::string::npos);
  EXPECT_TRUE(testing::WellFormedXml(SFile(), home / "s.xml"));
  EXPECT_TRUE(outcome.receipt.responseText.empty());
}

TEST_F(ReportsTest, SpanReportCarriesBothMonths) {
  card.steps.push_back(
      {"8042030014CD0420260512CE020930D003200901D103201002", true, SignedAnswer()});
  const CardOutcome outcome = reports.SpanReport(HexParse("20 09 01"), HexParse("20 10 02"));
  ASSERT_TRUE(outcome.Status());
  EXPECT_NE(outcome.receipt.responseText.find("Summe von 200901 bis 201002"), std::string::npos);
}

TEST_F(ReportsTest, ActivationSendsThePinButNeverJournalsIt) {
  card.steps.push_back({"8042040012CD0420260512CE020930C306313233343536", true, SignedAnswer()});
  const CardOutcome activated = reports.ActivateCard("123456");
  ASSERT_TRUE(activated.Status());
  // The PIN element, then Le.
  EXPECT_EQ(HexWritten(card.sent.back()).substr(45), "C3 06 31 32 33 34 35 36 00");
  ASSERT_TRUE(journal.CloseJournalPair());
  EXPECT_EQ(SFile().find("wzYxMjM0NTY"), std::string::npos);  // C3 06 "123456" in Base64
  EXPECT_EQ(activated.receipt.qrPayload.size(), 10u + HexParse(SignedAnswer()).size());

  card.steps.push_back({"80420400", false, ""});
  EXPECT_FALSE(reports.ActivateCard("000000").Status());
  EXPECT_EQ(host.messages.back(), "Aktivierung fehlgeschlagen");
  EXPECT_FALSE(reports.ActivateCard("12a456").Status());
  EXPECT_EQ(card.sent.size(), 2u);
}

TEST_F(ReportsTest, DeactivationNeedsTwoYes) {
  host.answers = {true, false};
  EXPECT_FALSE(reports.DeactivateCard().Sent());
  EXPECT_TRUE(card.sent.empty());
  host.answers = {true, true};
  card.steps.push_back({"804205000A", true, SignedAnswer()});
  const CardOutcome deactivated = reports.DeactivateCard();
  EXPECT_TRUE(deactivated.Status());
  EXPECT_NE(deactivated.receipt.responseText.find("Tagesabschluss "), std::string::npos);
}

TEST_F(ReportsTest, BookedMonthsComeFromGetData) {
  card.steps.push_back({"00CA01F200", true, "D0 03 20 09 02 D1 02 00 0C"});
  auto months = reports.ReadBookedMonths();
  ASSERT_TRUE(months);
  EXPECT_EQ(MonthListLines(*months).back(), "+ 12 | 02/2010");
  card.steps.push_back({"00CA01F200", false, ""});
  EXPECT_FALSE(reports.ReadBookedMonths());
}

}  // namespace
}  // namespace kasse

namespace kasse {
namespace {

TEST_F(ReportsTest, AReportAnsweredAfterThePatienceLimitIsJournalledLate) {
  card.stallNext = true;
  const Result<void> closing = reports.DailyClosing(ClosingKind::kSigned).Status();
  ASSERT_FALSE(closing);
  EXPECT_NE(closing.error().English().find("stopped answering"), std::string::npos);
  ASSERT_TRUE(card.late);
  card.late(CardAnswer{HexParse(SignedAnswer()), 0x9000});
  ASSERT_TRUE(journal.CloseJournalPair());
  const std::string s = SFile();
  EXPECT_NE(s.find("<reportEncoded><reportRequest>zQQgJgUSzgIJMA==</reportRequest>"
                   "</reportEncoded>"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("<reportLate><reportRequest>zQQgJgUSzgIJMA==</reportRequest><reportResponse>" +
                   Base64Encode(HexParse(SignedAnswer())) + "</reportResponse></reportLate>"),
            std::string::npos)
      << s;
  EXPECT_TRUE(testing::WellFormedXml(s, home / "s.xml"));
  EXPECT_TRUE(testing::WellFormedXml(LFile(), home / "l.xml"));
}

}  // namespace
}  // namespace kasse
