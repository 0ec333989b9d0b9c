#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "sim/tests/card_script.h"

namespace kasse::sim {
namespace {

using testing::Command;
using testing::Concat;
using testing::kSelectApp;
using testing::Record;
using testing::ReportCommand;
using testing::Send;
using testing::Transaction;
using testing::Vat;

// Checks r || s against the certificate's key with OpenSSL alone, apart from the card's code.
bool OpenSslVerifies(const Bytes& certificate, const Bytes& message, const Bytes& signature) {
  if (signature.size() != 48) return false;
  const unsigned char* in = certificate.data();
  X509* x509 = d2i_X509(nullptr, &in, static_cast<long>(certificate.size()));
  if (!x509) return false;
  ECDSA_SIG* ecdsa = ECDSA_SIG_new();
  ECDSA_SIG_set0(ecdsa, BN_bin2bn(signature.data(), 24, nullptr),
                 BN_bin2bn(signature.data() + 24, 24, nullptr));
  unsigned char* der = nullptr;
  const int derSize = i2d_ECDSA_SIG(ecdsa, &der);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  const bool ok =
      EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, X509_get0_pubkey(x509)) == 1 &&
      EVP_DigestVerify(context, der, static_cast<std::size_t>(derSize), message.data(),
                       message.size()) == 1;
  EVP_MD_CTX_free(context);
  OPENSSL_free(der);
  ECDSA_SIG_free(ecdsa);
  X509_free(x509);
  return ok;
}

const Bytes kIdentity = HexParse("C4 07 51 4F 52 2D 53 49 4D C5 04 00 00 00 01");

class Signing : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000); }
  QorEngine card{EngineOptions{}};
};

TEST_F(Signing, TransactionSignsFilteredRecordWithIdentityAndSequence) {
  const Bytes container = Vat(0xE1, 119, 50, HexParse("19 00"));
  const auto reply = Send(card, Transaction(container));
  ASSERT_EQ(reply.sw, 0x9000);
  const auto answer = SplitElements(reply.data);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), 4u);
  EXPECT_EQ(Bytes(reply.data.begin(), reply.data.begin() + 15), kIdentity);
  EXPECT_EQ((*answer)[2].tag, 0xCB);
  EXPECT_EQ(ReadUint32((*answer)[2].value), 1u);
  const Bytes signature((*answer)[3].value.begin(), (*answer)[3].value.end());
  ASSERT_EQ((*answer)[3].tag, 0x9E);

  // Without C8, and the container without D9 and DA.
  Bytes record = Record({});
  record.resize(record.size() - 4);
  const Bytes filtered = Concat({record, HexParse("E1 08 D8 02 11 9C DB 02 19 00")});
  const Bytes message = Concat({filtered, kIdentity, HexParse("CB 04 00 00 00 01")});
  EXPECT_TRUE(OpenSslVerifies(card.CardCertificate(), message, signature));
  Bytes changed = message;
  changed[3] ^= 0x01;
  EXPECT_FALSE(OpenSslVerifies(card.CardCertificate(), changed, signature));
}

TEST_F(Signing, VerifySignatureTakesTheRegistersRebuiltData) {
  const Bytes container = Vat(0xE1, 119, 0, HexParse("19 00"));
  const auto reply = Send(card, Transaction(container));
  ASSERT_EQ(reply.sw, 0x9000);
  const Bytes seq(reply.data.begin() + 15, reply.data.begin() + 21);
  const Bytes signature(reply.data.begin() + 21, reply.data.begin() + 71);
  Bytes head = Record({});
  head.resize(head.size() - 4);  // no currency in the verify data
  const Bytes verify = Concat({head, seq, container, signature});
  EXPECT_EQ(Send(card, Command("80 44 00 00", verify)).sw, 0x9000);
  for (const std::size_t at : {std::size_t{3}, head.size() + 3, verify.size() - 1}) {
    Bytes changed = verify;
    changed[at] ^= 0x10;
    EXPECT_EQ(Send(card, Command("80 44 00 00", changed)).sw, 0x6988) << at;
  }
  EXPECT_EQ(Send(card, Command("80 44 00 00", Concat({head, container}))).sw, 0x6A80);
  EXPECT_EQ(Send(card, Command("80 44 00 00", Concat({head, seq, HexParse("9E 30 01")}))).sw,
            0x6A80);
}

TEST(SigningDebug, DebugHashFollowsTheSignature) {
  EngineOptions options;
  options.debugHash = true;
  QorEngine card(options);
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  const auto reply = Send(card, Transaction(Vat(0xE2, 1000, 0, HexParse("07 00"))));
  ASSERT_EQ(reply.sw, 0x9000);
  const auto answer = SplitElements(reply.data);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), 5u);
  EXPECT_EQ((*answer)[4].tag, 0x9A);
  EXPECT_EQ((*answer)[4].value.size(), 20u);
}

TEST_F(Signing, ReportSignsRequestAndEveryElementBeforeTheSignature) {
  ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 119, 0, HexParse("19 00")))).sw, 0x9000);
  const Bytes command = ReportCommand(0x01);
  const auto reply = Send(card, command);
  ASSERT_EQ(reply.sw, 0x9000);
  ASSERT_GT(reply.data.size(), 50u);
  const Bytes before(reply.data.begin(), reply.data.end() - 50);
  EXPECT_EQ(reply.data[reply.data.size() - 50], 0x9E);
  const Bytes signature(reply.data.end() - 48, reply.data.end());
  const Bytes request(command.begin() + 5, command.end() - 1);
  const Bytes message = Concat({request, before});
  EXPECT_TRUE(OpenSslVerifies(card.CardCertificate(), message, signature));
  Bytes changed = message;
  changed[12] ^= 0x01;
  EXPECT_FALSE(OpenSslVerifies(card.CardCertificate(), changed, signature));
}

TEST_F(Signing, CertificateIsIssuedByTheTestCa) {
  const Bytes cardDer = card.CardCertificate();
  const Bytes caDer = card.CaCertificate();
  const unsigned char* in = cardDer.data();
  X509* cert = d2i_X509(nullptr, &in, static_cast<long>(cardDer.size()));
  in = caDer.data();
  X509* ca = d2i_X509(nullptr, &in, static_cast<long>(caDer.size()));
  ASSERT_TRUE(cert && ca);
  EXPECT_EQ(X509_verify(cert, X509_get0_pubkey(ca)), 1);
  char subject[256];
  X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
  EXPECT_NE(std::string(subject).find("CN=QOR-SIM"), std::string::npos);
  EXPECT_NE(std::string(subject).find("serialNumber=1"), std::string::npos);
  X509_free(cert);
  X509_free(ca);
}

}  // namespace
}  // namespace kasse::sim
