#include "verify/journal_audit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "common/tests/support/test_folders.h"
#include "journal/journal_scan.h"
#include "verify/tests/journal_fixture.h"
#include "verify/tests/test_certificates.h"
#include "verify/trust_store.h"

namespace kasse {
namespace {

using testing::JournalMaker;

AuditReport Audit(const std::string& s, const std::string& l) {
  JournalAuditor auditor;
  auditor.AuditPair("S.xml", s, "L.xml", l);
  return auditor.Report();
}

std::string AllText(const AuditReport& report) {
  return AuditText(report);
}

// Removes the n-th (0-based) element `name` with its content from text.
std::string WithoutRecord(std::string text, const std::string& name, int n) {
  std::size_t at = 0;
  for (int i = 0; i <= n; ++i)
    at = text.find("<" + name + ">", i == 0 ? 0 : at + 1);
  const std::string close = "</" + name + ">";
  const std::size_t end = text.find(close, at) + close.size();
  return text.erase(at, end - at);
}

TEST(JournalAudit, CleanJournalPassesWithEverySignatureChecked) {
  JournalMaker maker;
  maker.Sale(1999);
  maker.Sale(500);
  maker.DailyClosing();
  maker.Sale(100);
  const AuditReport report = Audit(maker.S(), maker.L());
  EXPECT_TRUE(report.findings.empty()) << AllText(report);
  EXPECT_EQ(report.transactions, 3u);
  EXPECT_EQ(report.reports, 1u);
  EXPECT_EQ(report.signaturesChecked, 4u);
  EXPECT_EQ(AuditExitCode(report), 0);
}

TEST(JournalAudit, DeletedRecordIsAGapNamingUnansweredRequests) {
  JournalMaker maker;
  maker.Sale(100);
  maker.Sale(200);
  maker.Sale(300);
  maker.Unanswered();
  maker.Sale(400);
  const std::string s = WithoutRecord(maker.S(), "transactionEncoded", 1);
  const std::string l = WithoutRecord(maker.L(), "transaction", 1);
  const AuditReport report = Audit(s, l);
  const std::string text = AllText(report);
  EXPECT_NE(text.find("gap: 2 missing; the journal holds 0 request(s)"), std::string::npos) << text;
  EXPECT_NE(text.find("request without an answer"), std::string::npos) << text;
  EXPECT_NE(text.find("5 of card QOR-SIM 1: gap: 4 missing; the journal holds 1 request(s)"),
            std::string::npos)
      << text;
  EXPECT_EQ(AuditExitCode(report), 1);
}

TEST(JournalAudit, RepeatedSequenceNumberAndAlteredSignatureAreFound) {
  JournalMaker maker;
  maker.Sale(100);
  maker.Sale(200);
  std::string s = maker.S();
  // The second record once more: a repeated number.
  const std::size_t second = s.find("<transactionEncoded>", s.find("<transactionEncoded>") + 1);
  const std::string copy = s.substr(second, s.find("</kavelo>") - second);
  s.insert(s.find("</kavelo>"), copy);
  std::string l = maker.L();
  const std::size_t lSecond = l.find("<transaction>", l.find("<transaction>") + 1);
  l.insert(l.find("</kavelo>"), l.substr(lSecond, l.find("</kavelo>") - lSecond));
  const AuditReport report = Audit(s, l);
  EXPECT_NE(AllText(report).find("2 of card"), std::string::npos);
  EXPECT_NE(AllText(report).find("sequence number repeated"), std::string::npos);

  // A changed byte of the signed request breaks the signature.
  std::string forged = maker.S();
  const std::size_t request = forged.find("<transactionRequest>") + 20;
  const std::size_t length = forged.find('<', request) - request;
  Bytes data = Base64Decode(forged.substr(request, length)).value();
  data[20] ^= 0x01;  // inside the item-list hash
  forged.replace(request, length, Base64Encode(data));
  EXPECT_NE(AllText(Audit(forged, maker.L())).find("signature does not match"), std::string::npos);
}

TEST(JournalAudit, AlteredLFieldIsNamedWithItsPosition) {
  JournalMaker maker;
  maker.Sale(100);
  maker.DailyClosing();
  std::string l = maker.L();
  const std::size_t seq = l.find("<seqNoTransaction>1<");
  ASSERT_NE(seq, std::string::npos);
  l.replace(seq, 20, "<seqNoTransaction>7<");
  const std::size_t report = l.find("<report>");
  l.replace(l.find("<tpIdNo>", report), 9, "<tpIdNo>9");
  const AuditReport audit = Audit(maker.S(), l);
  ASSERT_EQ(audit.findings.size(), 2u) << AllText(audit);
  EXPECT_EQ(audit.findings[0].file, "L.xml");
  EXPECT_EQ(audit.findings[0].record, 1u);
  EXPECT_NE(audit.findings[0].text.find("seqNoTransaction \"7\" instead of \"1\""),
            std::string::npos);
  EXPECT_EQ(audit.findings[1].offset, report);
  EXPECT_NE(audit.findings[1].text.find("tpIdNo"), std::string::npos);
}

TEST(JournalAudit, TruncatedJournalIsReadUpToItsLastCompleteRecord) {
  JournalMaker maker;
  maker.Sale(100);
  maker.Sale(200);
  // After a crash: no closing tag, and the S file stops inside a record.
  std::string s = maker.S(false);
  s.resize(s.size() - 30);
  const AuditReport report = Audit(s, maker.L(false));
  const std::string text = AllText(report);
  EXPECT_NE(text.find("S.xml @"), std::string::npos);
  EXPECT_NE(text.find("record cut off"), std::string::npos) << text;
  EXPECT_NE(text.find("L.xml @"), std::string::npos);
  EXPECT_NE(text.find("no closing tag"), std::string::npos) << text;
  EXPECT_EQ(report.signaturesChecked, 1u);
  // The cut record's L record is its own, not one without an S record.
  EXPECT_EQ(text.find("without a matching S record"), std::string::npos) << text;
  EXPECT_EQ(report.findings.size(), 3u) << text;
}

TEST(JournalAudit, UnsignedClosingsRepeatTheReportNumberWithoutAFinding) {
  JournalMaker maker;
  maker.Sale(100);
  maker.DailyClosing(false);
  maker.DailyClosing(false);
  maker.DailyClosing();
  maker.DailyClosing(false);
  const AuditReport report = Audit(maker.S(), maker.L());
  EXPECT_TRUE(report.findings.empty()) << AllText(report);
  EXPECT_EQ(report.reports, 4u);
}

TEST(JournalAudit, RequestInARecordCutOffByACrashCountsForTheGap) {
  JournalMaker first;
  first.Sale(100);
  first.Unanswered();  // the card gave number 2; the crash came before the answer was written
  std::string s = first.S(false);
  s.resize(s.size() - std::string("</transactionEncoded>").size());
  JournalAuditor auditor;
  auditor.AuditPair("1S.xml", s, "1L.xml", first.L(false));
  JournalMaker& card = first;  // the same card, the next run of the register
  card.RawS().clear();
  card.RawL().clear();
  card.Sale(300);
  auditor.AuditPair("2S.xml", card.S(), "2L.xml", card.L());
  const std::string text = AuditText(auditor.Report());
  EXPECT_NE(text.find("request without an answer (record cut off)"), std::string::npos) << text;
  EXPECT_NE(text.find("gap: 2 missing; the journal holds 1 request(s)"), std::string::npos) << text;
}

// Cut inside its closing tag, after the whole answer: the number is taken all the same, and
// counts for the gap as a request without an answer does.
TEST(JournalAudit, ARecordCutAfterItsAnswerCountsForTheGap) {
  JournalMaker first;
  first.Sale(100);
  first.Sale(200);
  std::string s = first.S(false);
  s.resize(s.size() - 5);  // "</transa" of "</transactionEncoded>" reached the disk
  JournalAuditor auditor;
  auditor.AuditPair("1S.xml", s, "1L.xml", first.L(false));
  JournalMaker& card = first;
  card.RawS().clear();
  card.RawL().clear();
  card.Sale(300);
  auditor.AuditPair("2S.xml", card.S(), "2L.xml", card.L());
  const std::string text = AuditText(auditor.Report());
  EXPECT_NE(text.find("answer in a record cut off after it"), std::string::npos) << text;
  EXPECT_NE(text.find("gap: 2 missing; the journal holds 1 request(s)"), std::string::npos) << text;
}

TEST(JournalAudit, UnusableFilesAndForeignTextAreReported) {
  JournalMaker maker;
  maker.Sale(100);
  EXPECT_EQ(AuditExitCode(Audit("not a journal", maker.L())), 2);
  std::string s = maker.S();
  s.insert(s.find("<transactionEncoded>"), "<junk/>");
  EXPECT_NE(AllText(Audit(s, maker.L())).find("not a record here"), std::string::npos);
  std::string bad = maker.S();
  bad.replace(bad.find("<transactionResponse>") + 21, 4, "!!!!");
  EXPECT_NE(AllText(Audit(bad, maker.L())).find("response is not Base64"), std::string::npos);
  EXPECT_EQ(AuditExitCode(AuditFiles({{"/nonexistent/S.xml", "/nonexistent/L.xml"}})), 2);
  // A FIFO named like a journal is refused, not read forever.
  testing::TempFolder folder;
  const auto fifo = folder.Path() / "260512XMLExpBak01S.xml";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const AuditReport refused = AuditFiles({{fifo, fifo}});
  ASSERT_EQ(refused.unusable.size(), 1u);
  EXPECT_EQ(refused.unusable[0], fifo.string() + ": not a regular file");
}

TEST(JournalAudit, HomeFolderPairsInNameOrder) {
  testing::TempFolder home;
  JournalMaker maker;
  maker.Sale(100);
  home.Write("Journal/260512XMLExpBak01S.xml", maker.S());
  home.Write("Journal/260512XMLExpBak01L.xml", maker.L());
  home.Write("Journal/260511XMLExpBak01S.xml", maker.S());
  const auto pairs = JournalPairs(home.Path());
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].first.filename(), "260511XMLExpBak01S.xml");
  EXPECT_TRUE(pairs[0].second.empty());
  EXPECT_EQ(AuditExitCode(AuditFiles({pairs[1]})), 0);
  const auto params = ParamsOfJournal(maker.S());
  ASSERT_EQ(params.size(), 1u);
  EXPECT_EQ(params[0].tpId, "QOR-SIM");
}

TEST(JournalAudit, RefusalIsNoFindingAndUsesNoNumber) {
  JournalMaker maker;
  maker.Sale(100);
  maker.Refused();
  maker.Sale(200);
  const AuditReport report = Audit(maker.S(), maker.L());
  EXPECT_TRUE(report.findings.empty()) << AllText(report);
  EXPECT_EQ(report.refusals, 1u);
  EXPECT_NE(AllText(report).find("1 refused by the card"), std::string::npos);

  JournalMaker odd;
  odd.Refused("69 85");
  EXPECT_NE(AllText(Audit(odd.S(), odd.L())).find("refusal: not a status word"), std::string::npos);
}

TEST(JournalAudit, LateAnswerIsCheckedAndExplainsItsNumberAndItsRequest) {
  // The answer came after the next sale: the gap it left is explained when it is journalled.
  JournalMaker after;
  after.Sale(100);
  const std::string late = after.Unanswered();
  after.Sale(300);
  after.RawS() += late;
  AuditReport report = Audit(after.S(), after.L());
  EXPECT_TRUE(report.findings.empty()) << AllText(report);
  EXPECT_EQ(report.lateAnswers, 1u);
  EXPECT_EQ(report.signaturesChecked, 3u);

  // Before the next sale: the numbers simply follow.
  JournalMaker before;
  before.Sale(100);
  before.RawS() += before.Unanswered();
  before.Sale(300);
  report = Audit(before.S(), before.L());
  EXPECT_TRUE(report.findings.empty()) << AllText(report);

  // A forged late answer is caught, and the request stays without an answer.
  JournalMaker forged;
  forged.Sale(100);
  std::string record = forged.Unanswered();
  const std::size_t at = record.find("<transactionResponse>") + 21;
  record[at + 4] = record[at + 4] == 'A' ? 'B' : 'A';
  forged.RawS() += record;
  const std::string text = AllText(Audit(forged.S(), forged.L()));
  EXPECT_NE(text.find("late transaction answer: signature does not match"), std::string::npos)
      << text;

  // A late answer to a request the journal does not hold.
  JournalMaker stray;
  const std::string strayRecord = stray.Unanswered();
  JournalMaker other;
  other.Sale(100);
  other.RawS() += strayRecord;
  EXPECT_NE(AllText(Audit(other.S(), other.L())).find("its request is not in the journal"),
            std::string::npos);
}

// A journal pair with only a parameter block claiming `certificate` for the maker's card.
std::string ParamsOnly(const JournalMaker& maker, const Bytes& certificate) {
  std::string params = maker.Params();
  const std::size_t at = params.find("<certificate>") + 13;
  params.replace(at, params.find("</certificate>") - at, Base64Encode(certificate));
  return std::string(kJournalHeader) + params + std::string(kJournalClosingTag);
}

TEST(JournalAudit, CardCertificatesMustComeFromATrustedIssuer) {
  JournalMaker maker;
  maker.Sale(100);
  const auto trusting = [](const Bytes& issuer) {
    auto trust = std::make_shared<TrustStore>();
    EXPECT_TRUE(trust->Add(issuer));
    return trust;
  };
  JournalAuditor genuine(trusting(maker.Issuer()));
  genuine.AuditPair("S.xml", maker.S(), "L.xml", maker.L());
  EXPECT_TRUE(genuine.Report().findings.empty()) << AuditText(genuine.Report());
  EXPECT_NE(AuditText(JournalAuditor().Report()).find("not checked against an issuer"),
            std::string::npos);

  const testing::TestIssuer other;
  JournalAuditor foreign(trusting(other.Certificate()));
  foreign.AuditPair("S.xml", maker.S(), "L.xml", maker.L());
  const AuditReport untrusted = foreign.Report();
  EXPECT_NE(AuditText(untrusted).find("certificate of QOR-SIM 1 in S.xml is not issued by a "
                                      "trusted issuer: card certificate"),
            std::string::npos)
      << AuditText(untrusted);
  EXPECT_EQ(untrusted.signaturesChecked, 0u);
  EXPECT_EQ(untrusted.signaturesUntrusted, 1u);

  // Re-certified: the same key first under a discarded issuer, then under the trusted one.
  const testing::KeyPtr key = testing::NewCardKey();
  const testing::TestIssuer discarded("Discarded CA");
  const Bytes old = discarded.Issue(key.get(), {"QOR-SIM", "1"});
  const Bytes renewed = other.Issue(key.get(), {"QOR-SIM", "1"});
  JournalAuditor recertified(trusting(other.Certificate()));
  recertified.AuditPair("1S.xml", ParamsOnly(maker, old), "1L.xml", ParamsOnly(maker, old));
  recertified.AuditPair("2S.xml", ParamsOnly(maker, renewed), "2L.xml", ParamsOnly(maker, renewed));
  EXPECT_TRUE(recertified.Report().findings.empty()) << AuditText(recertified.Report());
  // Only the discarded one: nothing vouches for the card.
  JournalAuditor orphan(trusting(other.Certificate()));
  orphan.AuditPair("1S.xml", ParamsOnly(maker, old), "1L.xml", ParamsOnly(maker, old));
  EXPECT_NE(AuditText(orphan.Report()).find("its issuer /CN=Discarded CA is not trusted"),
            std::string::npos)
      << AuditText(orphan.Report());
}

TEST(JournalAudit, EscapedCardTextsCompareUnescaped) {
  JournalMaker maker;
  maker.Sale(100);
  std::string s = maker.S(), l = maker.L();
  // The L file writes the card's name escaped; the card's bytes are the same.
  const std::size_t name = l.find("<tpId>QOR-SIM</tpId>", l.find("<transaction>"));
  ASSERT_NE(name, std::string::npos);
  l.replace(name, 20, "<tpId>QOR&#45;SIM</tpId>");
  EXPECT_TRUE(Audit(s, l).findings.empty()) << AllText(Audit(s, l));
  l.replace(l.find("QOR&#45;SIM"), 11, "QOR&lt;SIM");
  EXPECT_NE(AllText(Audit(s, l)).find("L field tpId \"QOR<SIM\""), std::string::npos);
  EXPECT_EQ(XmlUnescaped("a&lt;b&gt;&amp;&quot;&apos;&#x41;&#66;&bogus;&#999;"),
            "a<b>&\"'AB&bogus;&#999;");
}

}  // namespace
}  // namespace kasse
