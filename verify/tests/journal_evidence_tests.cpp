// Records the register keeps as evidence or writes twice: an answer it refused because the card
// gave a number already journalled, and a record rescued into a new pair at the next start.

#include <gtest/gtest.h>

#include <filesystem>

#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "verify/journal_audit.h"
#include "verify/tests/journal_fixture.h"
#include "verify/trust_store.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;
using testing::JournalMaker;
using testing::TempFolder;

sim::EngineOptions CardIn(const fs::path& folder) {
  sim::EngineOptions options;
  options.stateFile = folder / "card.state";
  options.issuerFolder = folder / "issuer";
  return options;
}

// Writes the maker's records so far as the pair `base` (without its closing tags when the run
// ended abnormally), and starts the next run.
void WriteRun(TempFolder& home, JournalMaker& maker, const std::string& base, bool closed = true) {
  home.Write("Journal/" + base + "S.xml", maker.S(closed));
  home.Write("Journal/" + base + "L.xml", maker.L(closed));
  maker.RawS().clear();
  maker.RawL().clear();
}

AuditReport AuditHome(const TempFolder& home, const Bytes& issuer) {
  auto trust = std::make_shared<TrustStore>();
  EXPECT_TRUE(trust->Add(issuer));
  return AuditFiles(JournalPairs(home.Path()), trust);
}

std::size_t NthRecord(const std::string& text, const std::string& name, int n) {
  std::size_t at = text.find("<" + name + ">");
  for (int i = 1; i < n; ++i)
    at = text.find("<" + name + ">", at + 1);
  return at;
}

// The record `name` at `at` of a journal text, whole.
std::string RecordAt(const std::string& text, const std::string& name, std::size_t at) {
  const std::string close = "</" + name + ">";
  return text.substr(at, text.find(close, at) + close.size() - at);
}

// A card put back from a backup answers numbers it gave before; the register refuses those
// answers and keeps them. Run 1 holds sales 1 to 3 and closings 1 and 2; run 2 the refused
// answers of the card put back after sale 1 and closing 1: sale 2 and closing 2 again.
struct PutBackCard {
  TempFolder home, cards;
  JournalMaker maker{CardIn(cards.Path() / "card")};
  Bytes issuer;

  PutBackCard() {
    maker.Sale(100);
    maker.DailyClosing();
    fs::copy(cards.Path() / "card", cards.Path() / "backup", fs::copy_options::recursive);
    maker.Sale(200);
    maker.Sale(300);
    maker.DailyClosing();
    WriteRun(home, maker, "260512XMLExpBak01");
    JournalMaker restored(CardIn(cards.Path() / "backup"));
    restored.Rejected(400);
    restored.RejectedClosing();
    WriteRun(home, restored, "260512XMLExpBak02");
    issuer = maker.Issuer();
  }
  std::string File(const std::string& name) const {
    return ReadFile(home.Path() / "Journal" / name).value();
  }
};

TEST(JournalEvidence, AnAnswerTheRegisterRefusedIsOneFindingNeitherASaleNorAnUnansweredRequest) {
  PutBackCard run;
  const AuditReport report = AuditHome(run.home, run.issuer);
  const std::string text = AuditText(report);
  const std::string first = run.File("260512XMLExpBak01S.xml");
  const std::string refused = run.File("260512XMLExpBak02S.xml");
  ASSERT_EQ(report.findings.size(), 2u) << text;
  EXPECT_EQ(report.findings[0].file, "260512XMLExpBak02S.xml");
  EXPECT_EQ(report.findings[0].offset, NthRecord(refused, "transactionEncoded", 1));
  EXPECT_EQ(report.findings[0].record, 1u);
  EXPECT_EQ(report.findings[0].text,
            "transaction 2 of card QOR-SIM 1: the card answered this number a second time and the "
            "register refused the answer (kept as evidence, not a sale); the number's record is "
            "in 260512XMLExpBak01S.xml @" +
                std::to_string(NthRecord(first, "transactionEncoded", 2)) + " record 3");
  EXPECT_EQ(report.findings[1].record, 2u);
  EXPECT_EQ(report.findings[1].text,
            "report 2 of card QOR-SIM 1: the card answered this number a second time and the "
            "register refused the answer (kept as evidence, not a sale); the number's record is "
            "in 260512XMLExpBak01S.xml @" +
                std::to_string(NthRecord(first, "reportEncoded", 2)) + " record 5");
  EXPECT_EQ(text.find("without an answer"), std::string::npos) << text;
  EXPECT_EQ(text.find("repeated"), std::string::npos) << text;
  EXPECT_EQ(report.transactions, 3u);
  EXPECT_EQ(report.reports, 2u);
  EXPECT_EQ(report.rejections, 2u);
  EXPECT_EQ(report.signaturesChecked, 5u);  // the refused answers' are no receipts'
  EXPECT_NE(text.find(", 2 answer(s) the register refused"), std::string::npos) << text;
  EXPECT_EQ(AuditExitCode(report), 1);
}

TEST(JournalEvidence, ARefusedAnswerIsCheckedAndNeverStandsForItsNumber) {
  PutBackCard run;
  const fs::path refusedFile = run.home.Path() / "Journal/260512XMLExpBak02S.xml";
  const std::string refused = run.File("260512XMLExpBak02S.xml");

  // Its signature is checked as any answer's.
  std::string forged = refused;
  const std::size_t answer = forged.find("<transactionRejected>") + 21;
  const std::size_t length = forged.find('<', answer) - answer;
  Bytes bytes = Base64Decode(forged.substr(answer, length)).value();
  bytes.back() ^= 0x01;
  forged.replace(answer, length, Base64Encode(bytes));
  ASSERT_TRUE(WriteFileAtomic(refusedFile, forged));
  std::string text = AuditText(AuditHome(run.home, run.issuer));
  EXPECT_NE(text.find("260512XMLExpBak02S.xml @" +
                      std::to_string(NthRecord(refused, "transactionEncoded", 1)) +
                      " record 1: transaction: refused answer: signature "),
            std::string::npos)
      << text;

  // Without the record of its number, the number is missing all the same: the refused answer
  // names the loss, it does not fill it.
  ASSERT_TRUE(WriteFileAtomic(refusedFile, refused));
  std::string first = run.File("260512XMLExpBak01S.xml");
  const std::size_t second = NthRecord(first, "transactionEncoded", 2);
  first.erase(second, RecordAt(first, "transactionEncoded", second).size());
  run.home.Write("Journal/260512XMLExpBak01S.xml", first);
  text = AuditText(AuditHome(run.home, run.issuer));
  EXPECT_NE(text.find("transaction 3 of card QOR-SIM 1: gap: 2 missing"), std::string::npos)
      << text;
  EXPECT_NE(text.find("transaction 2 of card QOR-SIM 1: the card answered this number again and "
                      "the register refused the answer as already journalled (kept as evidence, "
                      "not a sale), but no record of this number is in these journals"),
            std::string::npos)
      << text;
}

// The run that signed sale 2 could not journal it whole; the next start wrote the record into
// a pair of its own. `sComplete`: the S record had reached the first pair, only its L record
// was cut off.
struct RescuedRun {
  TempFolder home;
  JournalMaker maker;

  explicit RescuedRun(bool sComplete) {
    maker.Sale(100);
    const std::size_t s = maker.RawS().size(), l = maker.RawL().size();
    maker.Sale(200);
    const std::string sRecord = maker.RawS().substr(s), lRecord = maker.RawL().substr(l);
    // What reached the first pair.
    maker.RawL().resize(maker.RawL().find("<tpId>", l));
    if (!sComplete) maker.RawS().resize(maker.RawS().find("<transactionResponse>", s));
    WriteRun(home, maker, "260512XMLExpBak01", false);
    maker.RawS() = sRecord;
    maker.RawL() = lRecord;
    WriteRun(home, maker, "260512XMLExpBak02");
  }
};

TEST(JournalEvidence, ARecordFoundTwiceByteForByteInTwoPairsIsOneRecord) {
  RescuedRun run(true);
  const AuditReport report = AuditHome(run.home, run.maker.Issuer());
  const std::string text = AuditText(report);
  // What the end of the first run explains, nothing more.
  ASSERT_EQ(report.findings.size(), 2u) << text;
  EXPECT_NE(report.findings[0].text.find("no closing tag"), std::string::npos) << text;
  EXPECT_EQ(report.findings[1].file, "260512XMLExpBak01L.xml");
  EXPECT_NE(report.findings[1].text.find("record cut off"), std::string::npos) << text;
  EXPECT_EQ(report.transactions, 2u);
  EXPECT_EQ(report.signaturesChecked, 2u);
  EXPECT_EQ(report.duplicates, 1u);
  EXPECT_NE(text.find("1 record(s) journalled twice byte for byte, counted once"),
            std::string::npos)
      << text;
}

TEST(JournalEvidence, ARescuedRecordAnswersTheRequestItsFirstPairKeptCutOff) {
  RescuedRun run(false);
  const AuditReport report = AuditHome(run.home, run.maker.Issuer());
  const std::string text = AuditText(report);
  EXPECT_EQ(text.find("without an answer"), std::string::npos) << text;
  EXPECT_NE(text.find("260512XMLExpBak01S.xml @"), std::string::npos) << text;
  EXPECT_NE(text.find("record cut off"), std::string::npos) << text;
  EXPECT_EQ(report.transactions, 2u);
  EXPECT_EQ(report.signaturesChecked, 2u);

  // A new sale that merely looks the same, after the number the cut request took, answers
  // nothing: the request stays without an answer and explains the gap.
  TempFolder home;
  JournalMaker maker;
  maker.Sale(100);
  const std::size_t s = maker.RawS().size();
  maker.Sale(200);  // number 2: the journal keeps only its request
  maker.RawS().resize(maker.RawS().find("<transactionResponse>", s));
  WriteRun(home, maker, "260512XMLExpBak01", false);
  maker.Sale(200);  // number 3, the same request bytes
  WriteRun(home, maker, "260512XMLExpBak02");
  const std::string gap = AuditText(AuditHome(home, maker.Issuer()));
  EXPECT_NE(gap.find("request without an answer (record cut off)"), std::string::npos) << gap;
  EXPECT_NE(gap.find("gap: 2 missing; the journal holds 1 request(s) without an answer"),
            std::string::npos)
      << gap;
}

}  // namespace
}  // namespace kasse
