#include "verify/verify_page.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "common/base_n.h"
#include "verify/tests/journal_fixture.h"
#include "verify/verify_server.h"

namespace kasse {
namespace {

using testing::JournalMaker;

std::string T1(const Bytes& payload) {
  std::string text = Base64Encode(payload);
  for (char& c : text)
    c = c == '+' ? '-' : c == '/' ? '_' : c;
  return text;
}

TEST(VerifyPage, ValidReceiptShowsBannerAndDataInTheAskedLanguage) {
  JournalMaker maker;
  const std::string t1 = T1(maker.Sale(1190, "<b>&"));
  const ReceiptVerdict verdict = VerifyWithCertificates(t1, {maker.Certificate()}, "");
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
  const ReceiptVerdict forged = VerifyWithCertificates(T1(payload), {maker.Certificate()}, "");
  const std::string page = VerdictHtml(forged, PageLanguage::kEnglish);
  EXPECT_NE(page.find("banner invalid\">Receipt invalid<"), std::string::npos);
  EXPECT_NE(page.find("signature does not match"), std::string::npos);
  const ReceiptVerdict garbage = VerifyWithCertificates("<script>", {maker.Certificate()}, "");
  const std::string bad = VerdictHtml(garbage, PageLanguage::kGerman);
  EXPECT_NE(bad.find("Beleg nicht prüfbar"), std::string::npos);
  EXPECT_EQ(bad.find("<script>"), std::string::npos);
  EXPECT_NE(VerdictJson(garbage).find("\"verdict\":\"unusable\""), std::string::npos);
}

TEST(VerifyPage, CertificateIsFoundInTheJournalsOfAHome) {
  const auto home =
      std::filesystem::temp_directory_path() / ("kavelo-page-" + std::to_string(::getpid()));
  std::filesystem::create_directories(home / "Journal");
  JournalMaker maker;
  const std::string t1 = T1(maker.Sale(250));
  EXPECT_EQ(VerifyWithCertificates(t1, {}, home.string()).validity, Validity::kUnusable);
  std::ofstream(home / "Journal" / "260512XMLExpBak01S.xml") << maker.S();
  EXPECT_EQ(VerifyWithCertificates(t1, {}, home.string()).validity, Validity::kValid);
  JournalMaker other;  // another card's certificate is no help
  EXPECT_EQ(VerifyWithCertificates(t1, {other.Certificate()}, home.string()).validity,
            Validity::kValid);
  std::filesystem::remove_all(home);
}

TEST(VerifyServer, AnswersOnLoopbackAndStops) {
  JournalMaker maker;
  const std::string t1 = T1(maker.Sale(300));
  ServeOptions options;
  options.port = 0;
  options.certificates = {maker.Certificate()};
  VerifyServer server(options);
  auto port = server.Bind();
  ASSERT_TRUE(port) << port.error().message;
  std::thread serving([&server] { server.Run(); });
  httplib::Client client("127.0.0.1", *port);
  client.set_connection_timeout(5, 0);
  client.set_read_timeout(5, 0);
  auto page = client.Get("/verify.php?t1=" + t1, {{"Accept-Language", "en"}});
  auto json = client.Get("/verify.php?t1=" + t1, {{"Accept", "application/json"}});
  auto missing = client.Get("/other");
  auto huge = client.Get("/verify.php?t1=" + std::string(6000, 'A'));
  server.Stop();
  serving.join();
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Receipt valid"), std::string::npos);
  ASSERT_TRUE(json);
  EXPECT_NE(json->body.find("\"verdict\":\"valid\""), std::string::npos);
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  ASSERT_TRUE(huge);
  EXPECT_NE(huge->body.find("Beleg nicht prüfbar"), std::string::npos);
}

TEST(VerifyServer, ListenTextIsChecked) {
  ServeOptions options;
  EXPECT_TRUE(ParseListen("0.0.0.0:9000", options));
  EXPECT_EQ(options.host, "0.0.0.0");
  EXPECT_EQ(options.port, 9000);
  EXPECT_FALSE(ParseListen("127.0.0.1:99999", options));
  EXPECT_FALSE(ParseListen(":80", options));
}

}  // namespace
}  // namespace kasse
