#include <gtest/gtest.h>

#include <climits>

#include "common/base_n.h"
#include "common/hex_text.h"
#include "common/sha.h"
#include "verify/certificate_index.h"
#include "verify/receipt_payload.h"
#include "verify/receipt_verdict.h"
#include "verify/signature_check.h"
#include "verify/tests/test_certificates.h"

namespace kasse {
namespace {

// A card key with a certificate from a test issuer.
class TestCard {
 public:
  TestCard()
      : key_(testing::NewCardKey()),
        certificate_(issuer_.Issue(key_.get(), {"QOR ABC 42", "42"})) {}
  Bytes Sign(ByteSpan message) const { return testing::SignAsCard(key_.get(), message); }
  const Bytes& Certificate() const { return certificate_; }

 private:
  testing::TestIssuer issuer_;
  testing::KeyPtr key_;
  Bytes certificate_;
};

Bytes SignedPayload(const TestCard& card) {
  Bytes payload = HexParse("CD 04 20 26 05 12 CE 02 09 30 C6 03 69 63 68 C7 14");
  const auto hash = Sha1(ToBytes("items"));
  payload.insert(payload.end(), hash.begin(), hash.end());
  const Bytes rest = HexParse(
      "CA 00 E1 0B D8 02 11 9C DB 02 19 00 D6 01 5C"
      " C4 03 41 42 43 C5 04 00 00 00 2A CB 04 00 00 01 2C");
  payload.insert(payload.end(), rest.begin(), rest.end());
  const Bytes signature = card.Sign(payload);
  payload.push_back(0x9E);
  payload.push_back(0x30);
  payload.insert(payload.end(), signature.begin(), signature.end());
  return payload;
}

TEST(ReceiptPayload, DecodesEveryFieldOfASignedReceipt) {
  const TestCard card;
  const Bytes payload = SignedPayload(card);
  auto receipt = DecodeReceiptPayload(payload);
  ASSERT_TRUE(receipt) << receipt.error().English();
  EXPECT_EQ(receipt->date, "20260512");
  EXPECT_EQ(receipt->time, "0930");
  EXPECT_EQ(receipt->operatorId, "ich");
  EXPECT_TRUE(receipt->training);
  EXPECT_FALSE(receipt->vatAddon);
  ASSERT_EQ(receipt->containers.size(), 1u);
  EXPECT_EQ(receipt->containers[0].turnover, 119);
  EXPECT_EQ(receipt->containers[0].rateDigits, "1900");
  EXPECT_EQ(receipt->containers[0].turnoverThirdParty, 5);
  EXPECT_EQ(receipt->tpId, "ABC");
  EXPECT_EQ(receipt->tpIdNo, 42u);
  EXPECT_EQ(receipt->seqNo, 300u);
  EXPECT_EQ(receipt->signedMessage.size(), payload.size() - 50);
  auto valid = CheckCardSignature(card.Certificate(), receipt->signedMessage, receipt->signature);
  ASSERT_TRUE(valid);
  EXPECT_TRUE(*valid);
}

TEST(ReceiptPayload, AnyChangedSignedByteFailsTheSignature) {
  const TestCard card;
  const Bytes payload = SignedPayload(card);
  for (std::size_t i = 0; i < payload.size(); ++i) {
    Bytes changed = payload;
    changed[i] ^= 0x01;
    auto receipt = DecodeReceiptPayload(changed);
    if (!receipt) continue;  // the change broke the structure: named, never a crash
    auto valid = CheckCardSignature(card.Certificate(), receipt->signedMessage, receipt->signature);
    EXPECT_TRUE(!valid || !*valid) << "byte " << i;
  }
}

TEST(ReceiptPayload, BadInputNamesFieldAndOffset) {
  const TestCard card;
  const Bytes payload = SignedPayload(card);
  for (std::size_t cut = 0; cut < payload.size(); ++cut) {
    auto receipt = DecodeReceiptPayload(ByteSpan(payload).first(cut));
    EXPECT_FALSE(receipt) << cut;
    if (!receipt) {
      EXPECT_LE(receipt.error().offset, cut);
    }
  }
  auto unknown = DecodeReceiptPayload(HexParse("CD 04 20 26 05 12 77 00"));
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error().offset, 6u);
  EXPECT_NE(unknown.error().English().find("77"), std::string::npos);
  auto date = DecodeReceiptPayload(HexParse("CD 04 20 26 0A 12"));
  ASSERT_FALSE(date);
  EXPECT_NE(date.error().English().find("date"), std::string::npos);
}

TEST(ReceiptPayload, UrlAndT1FormsGiveTheSameBytes) {
  const Bytes bytes = HexParse("FB FF BF 01");
  std::string t1 = Base64Encode(bytes);  // "+/+/AQ=="
  for (char& c : t1)
    c = c == '+' ? '-' : c == '/' ? '_' : c;
  EXPECT_EQ(*PayloadOfUrl(t1), bytes);
  EXPECT_EQ(*PayloadOfUrl("http://127.0.0.1:8080/verify.php?t1=" + t1), bytes);
  EXPECT_EQ(*PayloadOfUrl("http://h/verify.php?t1=-_-_AQ%3D%3D&lang=de"), bytes);
  EXPECT_FALSE(PayloadOfUrl("http://h/verify.php?t1="));
  EXPECT_FALSE(PayloadOfUrl("t1=not base64!"));
  EXPECT_FALSE(PayloadOfUrl(std::string(5000, 'A')));
}

TEST(ReceiptPayload, OnlyTheT1ParameterItselfCounts) {
  const Bytes bytes = HexParse("FB FF BF 01");
  const std::string genuine = "-_-_AQ==";
  // A parameter whose name ends in t1 is another parameter.
  EXPECT_EQ(*PayloadOfUrl("http://h/verify.php?xt1=AAAA&t1=" + genuine), bytes);
  EXPECT_EQ(*PayloadOfUrl("http://h/verify.php?t1=" + genuine + "&xt1=AAAA#t1=AAAA"), bytes);
  const struct {
    std::string url, problem;
  } refused[] = {
      {"http://h/verify.php?t1", "no value"},
      {"http://h/verify.php?t1&x=" + genuine, "no value"},
      {"http://h/verify.php?xt1=" + genuine, "no such parameter"},
      {"http://h/verify.php", "no such parameter"},
      {"http://h/verify.php?t1=AAAA&t1=" + genuine, "given twice"},
  };
  for (const auto& [url, problem] : refused) {
    auto payload = PayloadOfUrl(url);
    ASSERT_FALSE(payload) << url;
    EXPECT_NE(payload.error().English().find(problem), std::string::npos)
        << url << ": " << payload.error().English();
  }
  ASSERT_TRUE(T1Parameter("a=1&t1=x=y"));
  EXPECT_EQ(*T1Parameter("a=1&t1=x=y"), "x=y");
}

TEST(SignatureCheck, RefusesUnusableCertificatesAndSignatures) {
  const TestCard card;
  EXPECT_FALSE(CheckCardSignature(HexParse("30 03 02 01 01"), {}, Bytes(48, 1)));
  EXPECT_FALSE(CheckCardSignature(card.Certificate(), {}, Bytes(47, 1)));
  auto zero = CheckCardSignature(card.Certificate(), ToBytes("x"), Bytes(48, 0));
  EXPECT_TRUE(!zero || !*zero);
  auto info = ReadCertificate(card.Certificate());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->curve, "brainpoolP192r1");
  EXPECT_NE(info->subject.find("QOR ABC 42"), std::string::npos);
}

}  // namespace
}  // namespace kasse

namespace kasse {
namespace {

TEST(ReceiptVerdict, TaxInsideOrOnTopOfTheTurnover) {
  PayloadContainer container{1, 119, "1900", {}};
  EXPECT_EQ(ContainerTax(container, false), 19);
  container.turnover = -119;
  EXPECT_EQ(ContainerTax(container, false), -19);
  container.turnover = 100;
  EXPECT_EQ(ContainerTax(container, true), 19);
  container = {1, 5, "1000", {}};  // 0.5 cent: halves away from zero
  EXPECT_EQ(ContainerTax(container, true), 1);
  container.turnover = -5;
  EXPECT_EQ(ContainerTax(container, true), -1);
  container.rateDigits = "zz";
  EXPECT_FALSE(ContainerTax(container, true));
}

TEST(ReceiptVerdict, TaxOfTheLargestTurnoverStaysExact) {
  const std::int64_t largest = 99999999999999999;  // 17 digits, the most a packed amount holds
  PayloadContainer container{1, largest, "9999", {}};
  // 99999999999999999 * 9999 / 10000 = 99989999999999999.0001
  EXPECT_EQ(ContainerTax(container, true), 99990000000000000 - 1);
  // 99999999999999999 * 9999 / 19999 = 49997499874993749.19
  EXPECT_EQ(ContainerTax(container, false), 49997499874993749);
  container.turnover = -largest;
  EXPECT_EQ(ContainerTax(container, false), -49997499874993749);
  container.turnover = INT64_MIN;
  EXPECT_TRUE(ContainerTax(container, true).has_value());  // no overflow, whatever it gives
}

TEST(ReceiptPayload, RatesAbove9999HundredthsAreRefused) {
  // An 18-digit rate beside a 17-digit turnover.
  const Bytes big = HexParse(
      "CD 04 20 26 05 12 E1 16 D8 09 99 99 99 99 99 99 99 99 9C DB 09 01 23 45 67 89 01 23 45 67");
  auto receipt = DecodeReceiptPayload(big);
  ASSERT_FALSE(receipt);
  EXPECT_NE(receipt.error().English().find("rate of containerVat1: above 99.99 %"),
            std::string::npos)
      << receipt.error().English();
  auto letters = DecodeReceiptPayload(HexParse("CD 04 20 26 05 12 E1 04 DB 02 1A 00"));
  ASSERT_FALSE(letters);
  EXPECT_NE(letters.error().English().find("not packed digits"), std::string::npos);
  const Bytes leadingZeros =
      HexParse("CD 04 20 26 05 12 E1 07 DB 05 00 00 00 99 99 CB 01 01 9E 30");
  Bytes withSignature = leadingZeros;
  withSignature.resize(withSignature.size() + 48, 0x11);
  auto kept = DecodeReceiptPayload(withSignature);
  ASSERT_TRUE(kept) << kept.error().English();
  EXPECT_EQ(kept->containers[0].rateDigits, "9999");
}

TEST(ReceiptVerdict, UnusableAndInvalidInputsSayWhy) {
  const CertificateIndex index(CertificateSources{});
  ReceiptVerdict verdict = JudgeReceipt("t1=***", index);
  EXPECT_EQ(verdict.validity, Validity::kUnusable);
  EXPECT_NE(VerdictText(verdict).find("UNUSABLE: t1: not Base64"), std::string::npos);
  verdict = JudgeReceipt("zQQgJgUS", index);  // CD 04 20 26 05 12 and nothing more
  EXPECT_EQ(verdict.validity, Validity::kInvalid);
  EXPECT_NE(verdict.reason.find("no sequence number"), std::string::npos);
}

}  // namespace
}  // namespace kasse
