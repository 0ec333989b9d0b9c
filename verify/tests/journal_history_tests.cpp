// The audit across pairs: history in the order the records say, whatever the clock named the
// files; empty and lone files; foreign certificates; the same report on one thread or many.

#include <gtest/gtest.h>

#include <tuple>

#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "journal/journal_stream.h"
#include "verify/journal_audit.h"
#include "verify/tests/journal_fixture.h"
#include "verify/trust_store.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;
using testing::JournalMaker;
using testing::TempFolder;

std::shared_ptr<const TrustStore> Trusting(const Bytes& issuer) {
  auto trust = std::make_shared<TrustStore>();
  EXPECT_TRUE(trust->Add(issuer));
  return trust;
}

// Writes the maker's records so far as the pair `base`, and starts the next run.
void WriteRun(TempFolder& home, JournalMaker& maker, const std::string& base) {
  home.Write("Journal/" + base + "S.xml", maker.S());
  home.Write("Journal/" + base + "L.xml", maker.L());
  maker.RawS().clear();
  maker.RawL().clear();
}

// A card kept in files: a copy of its folder is a backup to put back.
sim::EngineOptions CardIn(const fs::path& folder) {
  sim::EngineOptions options;
  options.stateFile = folder / "card.state";
  options.issuerFolder = folder / "issuer";
  return options;
}

AuditReport AuditHome(const TempFolder& home, const Bytes& issuer, unsigned threads = 0) {
  return AuditFiles(JournalPairs(home.Path(), LoneLFiles::kList), Trusting(issuer), {threads});
}

TEST(JournalHistory, RunsAreOrderedByTheirNumbersNotByTheDateInTheirNames) {
  struct Case {
    const char* clock;
    std::vector<std::string> runs;  // the names the runs got, in the order they ran
  } cases[] = {
      {"set back a day", {"260513XMLExpBak01", "260512XMLExpBak01", "260512XMLExpBak02"}},
      {"set forward, then back", {"260512XMLExpBak01", "261231XMLExpBak01", "260513XMLExpBak01"}},
      {"time zone moved west over midnight",
       {"260512XMLExpBak01", "260511XMLExpBak01", "260512XMLExpBak02"}},
      {"set back a year", {"270101XMLExpBak01", "260101XMLExpBak01", "250101XMLExpBak01"}},
  };
  for (const Case& c : cases) {
    JournalMaker maker;
    TempFolder home;
    for (std::size_t run = 0; run < c.runs.size(); ++run) {
      maker.Sale(100 + static_cast<std::int64_t>(run));
      maker.Sale(200);
      if (run == 1) maker.DailyClosing();
      WriteRun(home, maker, c.runs[run]);
    }
    const AuditReport report = AuditHome(home, maker.Issuer());
    EXPECT_TRUE(report.findings.empty()) << c.clock << "\n" << AuditText(report);
    EXPECT_EQ(report.signaturesChecked, 7u) << c.clock;
    EXPECT_EQ(AuditExitCode(report), 0) << c.clock;
  }
}

TEST(JournalHistory, ARealGapOrRepeatNamesBothPlaces) {
  TempFolder home, cards;
  JournalMaker maker(CardIn(cards.Path() / "card"));
  maker.Sale(100);
  // Two copies of the card after its first sale, each put back once.
  for (const char* copy : {"backup", "backup-2"})
    fs::copy(cards.Path() / "card", cards.Path() / copy, fs::copy_options::recursive);
  const fs::path backup = cards.Path() / "backup";
  maker.Sale(200);
  maker.Sale(300);
  WriteRun(home, maker, "260513XMLExpBak01");  // numbers 1 to 3, named a day later
  maker.Sale(400);                             // 4, lost below
  maker.RawS().clear();
  maker.RawL().clear();
  maker.Sale(500);  // 5
  {
    // The card put back from its backup gives 2 and 3 again, to other sales.
    JournalMaker restored(CardIn(backup));
    restored.Sale(210);
    restored.Sale(310);
    maker.RawS() += restored.RawS();
    maker.RawL() += restored.RawL();
  }
  WriteRun(home, maker, "260512XMLExpBak01");
  // Both S files hold the header, the same parameter block and whole records of one length.
  const std::string first = ReadFile(home.Path() / "Journal/260513XMLExpBak01S.xml").value();
  const std::size_t second =
      first.find("<transactionEncoded>", first.find("<transactionEncoded>") + 1);
  const std::string text = AuditText(AuditHome(home, maker.Issuer()));
  EXPECT_NE(text.find("transaction 5 of card QOR-SIM 1: gap: 4 missing; the journal holds 0 "
                      "request(s) without an answer so far; the number before it, 3, is in "
                      "260513XMLExpBak01S.xml @"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("260512XMLExpBak01S.xml @" + std::to_string(second) + " record 2: " +
                      "transactions 2 to 3 of card QOR-SIM 1: sequence numbers repeated; first in "
                      "260513XMLExpBak01S.xml records 2 to 3"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("lower than"), std::string::npos) << text;
  // One number: its place is exact, inside a run as at its end.
  JournalMaker again(CardIn(cards.Path() / "backup-2"));
  again.Sale(220);
  WriteRun(home, again, "260514XMLExpBak01");
  const std::string twice = AuditText(AuditHome(home, maker.Issuer()));
  const std::string third = ReadFile(home.Path() / "Journal/260514XMLExpBak01S.xml").value();
  EXPECT_NE(
      twice.find("260514XMLExpBak01S.xml @" + std::to_string(third.find("<transactionEncoded>")) +
                 " record 1: transaction 2 of card QOR-SIM 1: sequence number repeated; "
                 "first in 260513XMLExpBak01S.xml @" +
                 std::to_string(second) + " record 2"),
      std::string::npos)
      << twice;
}

TEST(JournalHistory, NumbersGoingBackWithinOneRunAreStillAFinding) {
  JournalMaker maker;
  maker.Sale(100);
  maker.Sale(200);
  maker.Sale(300);
  std::string s = maker.S();
  // Swap the last two records: every number is there once, but the card went back.
  const std::size_t second = s.find("<transactionEncoded>", s.find("<transactionEncoded>") + 1);
  const std::size_t third = s.find("<transactionEncoded>", second + 1);
  const std::size_t end = s.find("</kavelo>");
  s = s.substr(0, second) + s.substr(third, end - third) + s.substr(second, third - second) +
      s.substr(end);
  JournalAuditor auditor;
  auditor.AuditPair("S.xml", s, "L.xml", maker.L());
  const std::string text = AuditText(auditor.Report());
  EXPECT_NE(text.find("transaction 2 of card QOR-SIM 1: sequence number lower than the one "
                      "before it in this journal (3 at record 2)"),
            std::string::npos)
      << text;
}

TEST(JournalHistory, AnEmptyPairIsOneFindingAndTheAuditGoesOn) {
  JournalMaker maker;
  maker.Sale(100);
  TempFolder home;
  WriteRun(home, maker, "260512XMLExpBak01");
  home.Write("Journal/260512XMLExpBak02S.xml", "");
  home.Write("Journal/260512XMLExpBak02L.xml", "");
  // A header cut short counts as empty too.
  home.Write("Journal/260512XMLExpBak03S.xml", "<?xml version=\"1.0\" enc");
  home.Write("Journal/260512XMLExpBak03L.xml", "");
  maker.Sale(200);
  WriteRun(home, maker, "260512XMLExpBak04");
  const AuditReport report = AuditHome(home, maker.Issuer());
  ASSERT_EQ(report.findings.size(), 2u) << AuditText(report);
  EXPECT_EQ(report.findings[0].file, "260512XMLExpBak02S.xml");
  EXPECT_NE(report.findings[0].text.find(
                "empty journal pair (260512XMLExpBak02S.xml, 260512XMLExpBak02L.xml)"),
            std::string::npos);
  EXPECT_EQ(report.findings[1].file, "260512XMLExpBak03S.xml");
  EXPECT_TRUE(report.unusable.empty());
  EXPECT_EQ(report.signaturesChecked, 2u);
  EXPECT_EQ(AuditExitCode(report), 1);
}

TEST(JournalHistory, AnSFileWithoutItsLFileIsAuditedAndNamed) {
  JournalMaker maker;
  maker.Sale(100);
  maker.Sale(200);
  TempFolder home;
  home.Write("Journal/260512XMLExpBak01S.xml", maker.S());
  home.Write("Journal/260513XMLExpBak01L.xml", maker.L());
  const AuditReport report = AuditHome(home, maker.Issuer());
  ASSERT_EQ(report.findings.size(), 2u) << AuditText(report);
  EXPECT_EQ(report.findings[0].text,
            "no L file (260512XMLExpBak01L.xml is missing); the S file is audited alone");
  EXPECT_EQ(report.findings[1].text,
            "L file without its S file (260513XMLExpBak01S.xml is missing)");
  EXPECT_EQ(report.signaturesChecked, 2u);
  EXPECT_EQ(AuditExitCode(report), 1);
}

TEST(JournalHistory, SignaturesUnderAForeignCertificateDoNotCount) {
  // Another user's pair copied in: the same card name and number, another issuer.
  JournalMaker own, foreign;
  TempFolder home;
  for (int i = 0; i < 5; ++i)
    own.Sale(100 + i);
  for (int i = 0; i < 7; ++i)
    foreign.Sale(200 + i);
  WriteRun(home, own, "260512XMLExpBak01");
  WriteRun(home, foreign, "260512XMLExpBak02");
  const AuditReport report = AuditHome(home, own.Issuer());
  const std::string text = AuditText(report);
  EXPECT_EQ(report.signaturesChecked, 5u) << text;
  EXPECT_EQ(report.signaturesUntrusted, 7u) << text;
  EXPECT_NE(text.find("certificate of QOR-SIM 1 in 260512XMLExpBak02S.xml is not issued by a "
                      "trusted issuer: card certificate"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("two different certificates"), std::string::npos) << text;
  EXPECT_NE(text.find("5 signatures valid"), std::string::npos) << text;

  // With no issuer at all the audit says so instead of counting nothing.
  const AuditReport unchecked = AuditFiles(JournalPairs(home.Path()));
  EXPECT_EQ(unchecked.signaturesChecked, 12u);
  EXPECT_NE(AuditText(unchecked).find("certificates not checked against an issuer"),
            std::string::npos);
}

std::vector<std::tuple<std::string, std::size_t, std::size_t, std::string>> Lines(
    const AuditReport& report) {
  std::vector<std::tuple<std::string, std::size_t, std::size_t, std::string>> lines;
  for (const AuditFinding& f : report.findings)
    lines.emplace_back(f.file, f.offset, f.record, f.text);
  return lines;
}

TEST(JournalHistory, ManyThreadsGiveTheSameFindingsInTheSameOrderAsOne) {
  JournalMaker maker;
  TempFolder home;
  std::vector<std::string> texts;
  for (int run = 0; run < 3; ++run) {
    for (int i = 0; i < 400; ++i) {
      maker.Sale(100 + i);
      if (i % 97 == 5) maker.Unanswered();
      if (i % 150 == 7) maker.RawS() += maker.Unanswered();  // answered late at once
    }
    maker.DailyClosing();
    std::string s = maker.S(run != 2), l = maker.L(run != 2);
    // Damage: a record lost, a signature changed, an L field altered.
    const std::size_t lost = s.find("<transactionEncoded>", s.size() / 3);
    s.erase(lost, s.find("</transactionEncoded>", lost) + 21 - lost);
    const std::size_t response = s.find("<transactionResponse>", s.size() / 2) + 30;
    s[response] = s[response] == 'A' ? 'B' : 'A';
    const std::size_t seq = l.find("<seqNoTransaction>", l.size() / 4) + 18;
    l[seq] = l[seq] == '9' ? '8' : '9';
    const std::string base =
        std::string(run == 1 ? "2605" : "2606") + "12XMLExpBak0" + std::to_string(run + 1);
    home.Write("Journal/" + base + "S.xml", s);
    home.Write("Journal/" + base + "L.xml", l);
    maker.RawS().clear();
    maker.RawL().clear();
  }
  const AuditReport one = AuditHome(home, maker.Issuer(), 1);
  const AuditReport many = AuditHome(home, maker.Issuer(), 4);
  EXPECT_GT(one.findings.size(), 10u) << AuditText(one);
  EXPECT_EQ(Lines(one), Lines(many));
  EXPECT_EQ(AuditText(one), AuditText(many));
  EXPECT_GT(one.signaturesChecked, 1000u);

  // The same texts given in memory read alike (the files are read in chunks).
  JournalAuditor inMemory(Trusting(maker.Issuer()), {3});
  for (const auto& [s, l] : JournalPairs(home.Path()))
    inMemory.AuditPair(s.filename().string(), ReadFile(s).value(), l.filename().string(),
                       ReadFile(l).value());
  EXPECT_EQ(Lines(inMemory.Report()), Lines(one));
}

TEST(JournalHistory, AnElementWithoutEndIsNamedNotReadForever) {
  JournalMaker maker;
  maker.Sale(100);
  std::string s = maker.S(false);
  s += "<transactionEncoded>" + std::string(JournalStream::kLongestElement + 10, 'x');
  JournalAuditor auditor(nullptr, {1});
  auditor.AuditPair("S.xml", s, "L.xml", maker.L());
  const AuditReport report = auditor.Report();
  const std::string text = AuditText(report);
  EXPECT_NE(text.find("element transactionEncoded at byte "), std::string::npos) << text;
  EXPECT_NE(text.find("longer than 16 MiB; not read further"), std::string::npos) << text;
  EXPECT_EQ(report.signaturesChecked, 1u);
}

}  // namespace
}  // namespace kasse
