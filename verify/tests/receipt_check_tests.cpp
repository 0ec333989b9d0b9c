#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "common/base_n.h"
#include "common/hex_text.h"
#include "common/sha.h"
#include "verify/receipt_payload.h"
#include "verify/receipt_verdict.h"
#include "verify/signature_check.h"

namespace kasse {
namespace {

// A brainpoolP192r1 key with a self-signed certificate, made for the test.
class TestCard {
 public:
  TestCard() {
    key_ = EVP_EC_gen("brainpoolP192r1");
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key_);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("QOR ABC 42"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key_, EVP_sha256());
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert, &der);
    certificate_.assign(der, der + length);
    OPENSSL_free(der);
    X509_free(cert);
  }
  ~TestCard() { EVP_PKEY_free(key_); }

  Bytes Sign(ByteSpan message) const {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key_);
    std::size_t length = 0;
    EVP_DigestSign(context, nullptr, &length, message.data(), message.size());
    Bytes der(length);
    EVP_DigestSign(context, der.data(), &length, message.data(), message.size());
    EVP_MD_CTX_free(context);
    const unsigned char* cursor = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length));
    Bytes rs(48);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs.data(), 24);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs.data() + 24, 24);
    ECDSA_SIG_free(sig);
    return rs;
  }
  const Bytes& Certificate() const { return certificate_; }

 private:
  EVP_PKEY* key_ = nullptr;
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
  ASSERT_TRUE(receipt) << receipt.error().message;
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
  EXPECT_NE(unknown.error().message.find("77"), std::string::npos);
  auto date = DecodeReceiptPayload(HexParse("CD 04 20 26 0A 12"));
  ASSERT_FALSE(date);
  EXPECT_NE(date.error().message.find("date"), std::string::npos);
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
  container.turnover = 100;
  EXPECT_EQ(ContainerTax(container, true), 19);
  container.rateDigits = "zz";
  EXPECT_EQ(ContainerTax(container, true), 0);
}

TEST(ReceiptVerdict, UnusableAndInvalidInputsSayWhy) {
  ReceiptVerdict verdict = VerifyReceiptUrl("t1=***", {});
  EXPECT_EQ(verdict.validity, Validity::kUnusable);
  EXPECT_NE(VerdictText(verdict).find("UNUSABLE: t1: not Base64"), std::string::npos);
  verdict = VerifyReceiptUrl("zQQgJgUS", {});  // CD 04 20 26 05 12 and nothing more
  EXPECT_EQ(verdict.validity, Validity::kInvalid);
  EXPECT_NE(verdict.reason.find("no sequence number"), std::string::npos);
}

}  // namespace
}  // namespace kasse
