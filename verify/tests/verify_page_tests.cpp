#include "verify/verify_page.h"

#include <gtest/gtest.h>

#include "verify/certificate_index.h"
#include "verify/tests/journal_fixture.h"
#include "verify/verify_server.h"

namespace kasse {
namespace {

using testing::JournalMaker;
using testing::T1;

ReceiptVerdict Judge(const std::string& t1, const JournalMaker& maker) {
  CertificateSources sources;
  sources.cards = {maker.Certificate()};
  sources.trusted = {maker.Issuer()};
  return JudgeReceipt(t1, CertificateIndex(sources));
}

TEST(VerifyPage, ValidReceiptShowsBannerAndDataInTheAskedLanguage) {
  JournalMaker maker;
  const std::string t1 = T1(maker.Sale(1190, "<b>&"));
  const ReceiptVerdict verdict = Judge(t1, maker);
  ASSERT_EQ(verdict.validity, Validity::kValid) << verdict.reason;
  const std::string german = VerdictHtml(verdict, PageLanguage::kGerman);
  EXPECT_NE(german.find("class=\"banner valid\">Beleg gültig<"), std::string::npos);
  EXPECT_NE(german.find("12.05.2026 09:30"), std::string::npos);
  EXPECT_NE(german.find("&lt;b&gt;&amp;"), std::string::npos);
  EXPECT_EQ(german.find("<b>&"), std::string::npos);
  EXPECT_NE(german.find("19,00 %"), std::string::npos);
  const std::string french = VerdictHtml(verdict, LanguageOfHeader("fr-CH, fr;q=0.9, en;q=0.8"));
  EXPECT_NE(french.find("Ticket valide"), std::string::npos);
  EXPECT_EQ(LanguageOfHeader("en-US,en;q=0.5"), PageLanguage::kEnglish);
  EXPECT_EQ(LanguageOfHeader("pl"), PageLanguage::kPolish);
  EXPECT_EQ(LanguageOfHeader("it, es"), PageLanguage::kGerman);
  const std::string json = VerdictJson(verdict);
  EXPECT_NE(json.find("\"verdict\":\"valid\""), std::string::npos);
  EXPECT_NE(json.find("\"operator\":\"\\u003cb\\u003e\\u0026\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"turnoverCents\":1190,\"taxCents\":190"), std::string::npos) << json;
}

TEST(VerifyPage, InvalidReceiptSaysWhatIsWrong) {
  JournalMaker maker;
  Bytes payload = maker.Sale(500);
  payload[20] ^= 0x01;
  const ReceiptVerdict forged = Judge(T1(payload), maker);
  const std::string page = VerdictHtml(forged, PageLanguage::kEnglish);
  EXPECT_NE(page.find("banner invalid\">Receipt invalid<"), std::string::npos);
  EXPECT_NE(page.find("signature does not match"), std::string::npos);
  const ReceiptVerdict garbage = Judge("<script>", maker);
  const std::string bad = VerdictHtml(garbage, PageLanguage::kGerman);
  EXPECT_NE(bad.find("Beleg nicht prüfbar"), std::string::npos);
  EXPECT_EQ(bad.find("<script>"), std::string::npos);
  EXPECT_NE(VerdictJson(garbage).find("\"verdict\":\"unusable\""), std::string::npos);
}

}  // namespace
}  // namespace kasse
