// Whose certificates the verifier believes: only card certificates a trusted issuer signed,
// every certificate naming the card tried, a card without any certificate its own verdict.

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include "common/base_n.h"
#include "common/tests/support/test_folders.h"
#include "verify/certificate_index.h"
#include "verify/journal_audit.h"
#include "verify/receipt_payload.h"
#include "verify/receipt_verdict.h"
#include "verify/tests/journal_fixture.h"
#include "verify/tests/test_certificates.h"
#include "verify/verify_page.h"

namespace kasse {
namespace {

using testing::JournalMaker;
using testing::T1;
using testing::TempFolder;

// The receipt's signed data under another sequence number, signed with `key`.
Bytes Resigned(const Bytes& payload, EVP_PKEY* key, std::uint32_t sequence) {
  Bytes message = DecodeReceiptPayload(payload).value().signedMessage;
  for (int i = 0; i < 4; ++i)
    message[message.size() - 1 - static_cast<std::size_t>(i)] =
        static_cast<Byte>(sequence >> (8 * i));
  const Bytes signature = testing::SignAsCard(key, message);
  message.push_back(0x9E);
  message.push_back(0x30);
  message.insert(message.end(), signature.begin(), signature.end());
  return message;
}

// A journal holding only a parameter block that claims `certificate` for the maker's card.
std::string JournalClaiming(const JournalMaker& maker, const Bytes& certificate) {
  std::string params = maker.Params();
  const std::size_t at = params.find("<certificate>") + 13;
  params.replace(at, params.find("</certificate>") - at, Base64Encode(certificate));
  return std::string(kJournalHeader) + params + std::string(kJournalClosingTag);
}

ReceiptVerdict Judge(const Bytes& payload, const CertificateSources& sources) {
  const CertificateIndex index(sources);
  return JudgeReceipt(T1(payload), index);
}

TEST(CardTrust, LookAlikeCardInTheJournalsIsRefusedAndTheGenuineStillPasses) {
  JournalMaker maker;
  const Bytes genuine = maker.Sale(1999);
  TempFolder home;
  home.Write("Journal/260512XMLExpBak01S.xml", maker.S());
  // A self-made key and certificate with the genuine card's names, even its issuer's name.
  const testing::KeyPtr fakeKey = testing::NewCardKey();
  const testing::TestIssuer fakeIssuer;
  const Bytes fake = fakeIssuer.Issue(fakeKey.get(), {"QOR-SIM", "1"});
  home.Write("Journal/260513XMLExpBak01S.xml", JournalClaiming(maker, fake));
  CertificateSources sources;
  sources.home = home.Path();
  sources.trusted = {maker.Issuer()};

  const ReceiptVerdict forged = Judge(Resigned(genuine, fakeKey.get(), 4711), sources);
  EXPECT_EQ(forged.validity, Validity::kInvalid);
  EXPECT_NE(forged.reason.find("card certificate /CN=QOR-SIM/serialNumber=1: its issuer"),
            std::string::npos)
      << forged.reason;
  EXPECT_EQ(Judge(genuine, sources).validity, Validity::kValid);

  // Without any trusted issuer nothing is valid, and the reason says what to do.
  sources.trusted.clear();
  const ReceiptVerdict untrusted = Judge(genuine, sources);
  EXPECT_EQ(untrusted.validity, Validity::kInvalid);
  EXPECT_NE(untrusted.reason.find("--ca FILE"), std::string::npos) << untrusted.reason;
}

// A receipt of card "ABC 42" signed by `key`.
Bytes ReceiptOf(EVP_PKEY* key) {
  Bytes payload = HexParse(
      "CD 04 20 26 05 12 CE 02 09 30 C6 03 69 63 68 C7 14"
      " 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13"
      " E1 08 D8 02 11 9C DB 02 19 00 C4 03 41 42 43 C5 04 00 00 00 2A CB 04 00 00 01 2C");
  const Bytes signature = testing::SignAsCard(key, payload);
  payload.push_back(0x9E);
  payload.push_back(0x30);
  payload.insert(payload.end(), signature.begin(), signature.end());
  return payload;
}

TEST(CardTrust, ExpiredAndWronglyIssuedCertificatesNameWhatFailed) {
  const testing::KeyPtr card = testing::NewCardKey();
  const Bytes receipt = ReceiptOf(card.get());
  const testing::TestIssuer issuer;
  const testing::TestIssuer notCa("Not a CA", "CA:FALSE", "critical,keyCertSign");
  const testing::TestIssuer noCertSign("No certificate signing", "critical,CA:TRUE",
                                       "critical,digitalSignature");
  struct Case {
    const testing::TestIssuer& by;
    testing::CertificateSpec spec;
    std::string expected;  // empty: valid
  } cases[] = {
      {issuer, {"ABC", "42"}, ""},
      {issuer, {"ABC", "42", -7200, -3600}, "CN=ABC/serialNumber=42: expired"},
      {issuer, {"ABC", "42", 3600, 7200}, "not yet valid"},
      {issuer, {"ABC", "42", -3600, 3600, "CA:FALSE", "critical,keyCertSign"}, "may not sign"},
      {notCa, {"ABC", "42"}, "the issuer /CN=Not a CA is no CA"},
      {noCertSign, {"ABC", "42"}, "may not sign certificates"},
      {issuer, {"ABC", "43"}, "no certificate for the card ABC 42"},
  };
  for (const Case& c : cases) {
    CertificateSources sources;
    sources.trusted = {issuer.Certificate(), notCa.Certificate(), noCertSign.Certificate()};
    sources.cards = {c.by.Issue(card.get(), c.spec)};
    const ReceiptVerdict verdict = Judge(receipt, sources);
    if (c.expected.empty()) {
      EXPECT_EQ(verdict.validity, Validity::kValid) << verdict.reason;
    } else {
      EXPECT_NE(verdict.validity, Validity::kValid) << c.expected;
      EXPECT_NE(verdict.reason.find(c.expected), std::string::npos) << verdict.reason;
    }
  }
}

TEST(CardTrust, ACertificateThatNamesNoCardVouchesForNone) {
  // A trusted issuer certified a key without naming a card: a receipt signed with that key
  // under any card's name must not pass, neither from a file nor claimed by a journal.
  const testing::TestIssuer issuer;
  const testing::KeyPtr key = testing::NewCardKey();
  JournalMaker maker;
  const Bytes forged = Resigned(maker.Sale(100), key.get(), 99);  // card QOR-SIM 1
  const testing::CertificateSpec unnamed[] = {
      {"", "1"},           // no CN
      {"QOR-SIM", ""},     // no serialNumber
      {"QOR-SIM", "one"},  // a serialNumber that is no number
      {"QOR-SIM", "-1"},
  };
  for (const testing::CertificateSpec& spec : unnamed) {
    const Bytes certificate = issuer.Issue(key.get(), spec);
    CertificateSources files;
    files.trusted = {issuer.Certificate()};
    files.cards = {certificate};
    const CertificateIndex index(files);
    const ReceiptVerdict fromFile = JudgeReceipt(T1(forged), index);
    EXPECT_EQ(fromFile.validity, Validity::kUnusable)
        << spec.commonName << "/" << spec.serialNumber;
    EXPECT_TRUE(fromFile.cardUnknown);
    ASSERT_EQ(index.Problems().size(), 1u);
    EXPECT_NE(index.Problems()[0].find("names no card"), std::string::npos);

    TempFolder home;
    home.Write("Journal/260512XMLExpBak01S.xml", JournalClaiming(maker, certificate));
    CertificateSources journals;
    journals.home = home.Path();
    journals.trusted = {issuer.Certificate()};
    const ReceiptVerdict claimed = Judge(forged, journals);
    EXPECT_EQ(claimed.validity, Validity::kInvalid) << spec.commonName << "/" << spec.serialNumber;
    EXPECT_NE(claimed.reason.find("names no card"), std::string::npos) << claimed.reason;
  }
  // Named, the same key is the card it names and no other.
  const Bytes named = issuer.Issue(key.get(), {"QOR-SIM", "01"});
  EXPECT_EQ(VerifyReceiptUrl(T1(forged), named, {issuer.Certificate()}).validity, Validity::kValid);
  const Bytes other = issuer.Issue(key.get(), {"QOR-SIM", "2"});
  EXPECT_TRUE(VerifyReceiptUrl(T1(forged), other, {issuer.Certificate()}).cardUnknown);
}

TEST(CardTrust, VerifyingAgainstOneCertificateStillChecksItsIssuer) {
  JournalMaker maker;
  const Bytes receipt = maker.Sale(250);
  EXPECT_EQ(VerifyReceiptUrl(T1(receipt), maker.Certificate(), {maker.Issuer()}).validity,
            Validity::kValid);
  const testing::TestIssuer stranger;
  const ReceiptVerdict untrusted =
      VerifyReceiptUrl(T1(receipt), maker.Certificate(), {stranger.Certificate()});
  EXPECT_EQ(untrusted.validity, Validity::kInvalid);
  EXPECT_NE(untrusted.reason.find("is not trusted"), std::string::npos) << untrusted.reason;
  EXPECT_EQ(VerifyReceiptUrl(T1(receipt), maker.Certificate(), {}).validity, Validity::kInvalid);
}

TEST(CardTrust, TwoCardsWithOneNameBothVerifyAndTheAuditNamesThePair) {
  JournalMaker first, second;  // both start as "QOR-SIM 1", each from its own issuer
  const Bytes firstReceipt = first.Sale(100);
  const Bytes secondReceipt = second.Sale(200);
  TempFolder home;
  home.Write("Journal/260512XMLExpBak01S.xml", first.S());
  home.Write("Journal/260512XMLExpBak01L.xml", first.L());
  home.Write("Journal/260513XMLExpBak01S.xml", second.S());
  home.Write("Journal/260513XMLExpBak01L.xml", second.L());
  CertificateSources sources;
  sources.home = home.Path();
  sources.trusted = {first.Issuer(), second.Issuer()};
  const CertificateIndex index(sources);
  EXPECT_EQ(index.CertificateCount(), 2u);
  EXPECT_EQ(JudgeReceipt(T1(firstReceipt), index).validity, Validity::kValid);
  EXPECT_EQ(JudgeReceipt(T1(secondReceipt), index).validity, Validity::kValid);
  const std::string audit = AuditText(AuditFiles(JournalPairs(home.Path())));
  EXPECT_NE(audit.find("card QOR-SIM 1: two different certificates"), std::string::npos) << audit;
}

TEST(CardTrust, CardWithoutCertificateIsItsOwnVerdictSaidPlainly) {
  JournalMaker maker;
  const Bytes receipt = maker.Sale(300);
  TempFolder home;
  CertificateSources sources;
  sources.home = home.Path();
  sources.trusted = {maker.Issuer()};
  const CertificateIndex index(sources);
  const ReceiptVerdict verdict = JudgeReceipt(T1(receipt), index);
  EXPECT_EQ(verdict.validity, Validity::kUnusable);
  EXPECT_TRUE(verdict.cardUnknown);
  EXPECT_NE(verdict.reason.find("no certificate for the card QOR-SIM 1"), std::string::npos)
      << verdict.reason;
  const std::string page = VerdictHtml(verdict, PageLanguage::kEnglish);
  EXPECT_NE(page.find("No certificate is known"), std::string::npos);
  EXPECT_EQ(page.find(home.Path().string()), std::string::npos);  // no server path on the page
  EXPECT_NE(index.Where().find(home.Path().string()), std::string::npos);
  EXPECT_NE(VerdictJson(verdict).find("\"cardUnknown\":true"), std::string::npos);
}

std::string Pem(const Bytes& der) {
  const unsigned char* cursor = der.data();
  X509* x509 = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, x509);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  std::string text(data, static_cast<std::size_t>(length));
  BIO_free(bio);
  X509_free(x509);
  return text;
}

TEST(CertificateIndex, ReadsAgainWhenAJournalOrATrustFileChanges) {
  JournalMaker maker;
  const Bytes receipt = maker.Sale(400);
  TempFolder home, trust;
  CertificateSources sources;
  sources.home = home.Path();
  sources.trustFolders = {trust.Path()};
  CertificateIndex index(sources);
  EXPECT_TRUE(JudgeReceipt(T1(receipt), index).cardUnknown);

  home.Write("Journal/260512XMLExpBak01S.xml", maker.S());
  index.Refresh();
  EXPECT_EQ(index.CertificateCount(), 1u);
  EXPECT_EQ(JudgeReceipt(T1(receipt), index).validity, Validity::kInvalid);  // no issuer yet

  trust.Write("issuer.pem", Pem(maker.Issuer()));
  trust.Write("notes.txt", "not a certificate");
  index.Refresh(std::chrono::hours(1));  // checked a moment ago: not yet again
  EXPECT_EQ(index.IssuerCount(), 0u);
  index.Refresh();
  EXPECT_EQ(index.IssuerCount(), 1u);
  EXPECT_EQ(JudgeReceipt(T1(receipt), index).validity, Validity::kValid);
  ASSERT_EQ(index.Problems().size(), 1u);
  EXPECT_NE(index.Problems()[0].find("notes.txt: neither a DER nor a PEM certificate"),
            std::string::npos);
}

TEST(CertificateIndex, TheUsersIssuerIsTrustedOnceTheFirstCardMadeIt) {
  JournalMaker maker;
  const Bytes receipt = maker.Sale(450);
  TempFolder state;
  CertificateSources sources;
  sources.cards = {maker.Certificate()};
  sources.userIssuer = state.Path() / "kasse" / "test-issuer.der";
  CertificateIndex index(sources);
  EXPECT_TRUE(index.Problems().empty());  // not there yet: no problem, only no trust
  EXPECT_EQ(JudgeReceipt(T1(receipt), index).validity, Validity::kInvalid);
  const Bytes issuer = maker.Issuer();
  state.Write("kasse/test-issuer.der", std::string(issuer.begin(), issuer.end()));
  index.Refresh();
  EXPECT_EQ(JudgeReceipt(T1(receipt), index).validity, Validity::kValid);
}

TEST(CertificateIndex, FolderOfCardCertificatesServesWithoutJournals) {
  JournalMaker maker;
  const Bytes receipt = maker.Sale(500);
  TempFolder certificates;
  const Bytes certificate = maker.Certificate();
  certificates.Write("qor-sim-1.der", std::string(certificate.begin(), certificate.end()));
  CertificateSources sources;
  sources.cardFolders = {certificates.Path()};
  sources.trusted = {maker.Issuer()};
  const CertificateIndex index(sources);
  EXPECT_EQ(JudgeReceipt(T1(receipt), index).validity, Validity::kValid);
  EXPECT_NE(index.Where().find(certificates.Path().string()), std::string::npos);
}

}  // namespace
}  // namespace kasse
