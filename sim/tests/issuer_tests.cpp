#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "common/files.h"
#include "common/user_folders.h"
#include "sim/card_crypto.h"
#include "sim/card_state.h"
#include "sim/certificate_maker.h"
#include "sim/openssl_handles.h"
#include "sim/test_issuer.h"
#include "sim/tests/card_script.h"

namespace kasse::sim {
namespace {

using testing::kSelectApp;
using testing::Send;
using testing::TempState;
using testing::Transaction;
using testing::Vat;

using StoreHandle = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE_free>>;
using StoreContextHandle = std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX_free>>;

// What a verifier does with the issuer as its only trusted certificate: build the chain and
// check signature, validity, CA flag and key usage.
std::string ChainError(const Bytes& cardDer, const Bytes& issuerDer) {
  CertificateHandle card = DecodeCertificate(cardDer);
  CertificateHandle issuer = DecodeCertificate(issuerDer);
  StoreHandle store(X509_STORE_new());
  StoreContextHandle context(X509_STORE_CTX_new());
  if (!card || !issuer || !store || !context) return "cannot decode";
  X509_STORE_add_cert(store.get(), issuer.get());
  X509_STORE_CTX_init(context.get(), store.get(), card.get(), nullptr);
  if (X509_verify_cert(context.get()) == 1) return "";
  return X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
}

Bytes FileBytes(const std::filesystem::path& path) {
  const auto text = ReadFile(path);
  return text ? ToBytes(*text) : Bytes{};
}

std::uint32_t CardNumber(QorEngine& card) {
  EXPECT_EQ(Send(card, kSelectApp).sw, 0x9000);
  const auto reply = Send(card, "00 CA 01 F1 00");  // the elements point into its data
  const auto status = SplitElements(reply.data);
  return status && status->size() > 3 ? ReadUint32((*status)[3].value) : 0;
}

TEST(TestIssuer, IsMadeOnceWithAPrivateKeyAndACaCertificate) {
  TempState temp("issuer-files");
  const auto folder = temp.IssuerFolder();
  auto issuer = TestIssuer::Open(folder);
  ASSERT_TRUE(issuer) << issuer.error().English();
  const auto key = folder / TestIssuerKeyFile().filename();
  struct stat info {};
  ASSERT_EQ(::stat(key.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(FileBytes(folder / TestIssuerCertificateFile().filename()), issuer->Certificate());

  CertificateHandle ca = DecodeCertificate(issuer->Certificate());
  ASSERT_TRUE(ca);
  EXPECT_EQ(X509_check_ca(ca.get()), 1);
  const int basic = X509_get_ext_by_NID(ca.get(), NID_basic_constraints, -1);
  ASSERT_GE(basic, 0);
  EXPECT_EQ(X509_EXTENSION_get_critical(X509_get_ext(ca.get(), basic)), 1);
  EXPECT_EQ(X509_get_key_usage(ca.get()), std::uint32_t{KU_KEY_CERT_SIGN | KU_CRL_SIGN});
  EXPECT_EQ(X509_verify(ca.get(), X509_get0_pubkey(ca.get())), 1);
  EXPECT_GT(
      ASN1_TIME_cmp_time_t(X509_get0_notAfter(ca.get()), std::time(nullptr) + 40L * 365 * 86400),
      0);

  auto again = TestIssuer::Open(folder);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Certificate(), issuer->Certificate());
}

TEST(TestIssuer, TwoProcessesStartingAtOnceMakeOneIssuerAndNeverShareANumber) {
  TempState temp("issuer-race");
  // flock excludes separate opens of the lock file, so threads stand in for processes.
  constexpr int kWorkers = 4;
  constexpr int kNumbers = 8;
  std::vector<Bytes> certificates(kWorkers);
  std::vector<std::vector<std::uint32_t>> numbers(kWorkers);
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      auto issuer = TestIssuer::Open(temp.IssuerFolder());
      if (!issuer) return;
      certificates[w] = issuer->Certificate();
      for (int i = 0; i < kNumbers; ++i) {
        if (auto number = issuer->NextCardNumber()) numbers[w].push_back(*number);
      }
    });
  }
  for (std::thread& worker : workers)
    worker.join();
  std::set<std::uint32_t> all;
  for (int w = 0; w < kWorkers; ++w) {
    EXPECT_FALSE(certificates[w].empty());
    EXPECT_EQ(certificates[w], certificates[0]);
    EXPECT_EQ(numbers[w].size(), std::size_t{kNumbers});
    all.insert(numbers[w].begin(), numbers[w].end());
  }
  EXPECT_EQ(all.size(), std::size_t{kWorkers * kNumbers});
  EXPECT_EQ(*all.rbegin(), std::uint32_t{kWorkers * kNumbers});
}

TEST(TestIssuer, DamagedFilesAreNamedNotReplaced) {
  TempState temp("issuer-damaged");
  const auto folder = temp.IssuerFolder();
  ASSERT_TRUE(TestIssuer::Open(folder));
  const auto serial = folder / TestIssuerSerialFile().filename();
  ASSERT_TRUE(WriteFileAtomic(serial, "12x\n"));
  auto issuer = TestIssuer::Open(folder);
  ASSERT_TRUE(issuer);
  const auto number = issuer->NextCardNumber();
  ASSERT_FALSE(number);
  EXPECT_NE(number.error().English().find(serial.string()), std::string::npos);
  ASSERT_TRUE(WriteFileAtomic(serial, "41\n"));
  const auto next = issuer->NextCardNumber();
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, 42u);

  // A certificate whose key is gone cannot issue; it is never silently replaced.
  const auto key = folder / TestIssuerKeyFile().filename();
  std::filesystem::remove(key);
  const auto keyless = TestIssuer::Open(folder);
  ASSERT_FALSE(keyless);
  EXPECT_NE(keyless.error().English().find(key.string()), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(key));
}

TEST(IssuedCards, TwoNewCardsGetDifferentNumbersAndAFixedNumberIsKept) {
  TempState first("card-first");
  EngineOptions options = first.Options();
  auto one = std::make_unique<QorEngine>(options);
  ASSERT_FALSE(one->StartError()) << one->StartError()->English();
  options.stateFile = first.Folder() / "second.state";
  QorEngine two(options);
  ASSERT_FALSE(two.StartError());
  const std::uint32_t a = CardNumber(*one);
  const std::uint32_t b = CardNumber(two);
  EXPECT_NE(a, b);
  EXPECT_NE(one->CardCertificate(), two.CardCertificate());

  options.stateFile = first.Folder() / "fixed.state";
  options.tpIdNo = 70;
  QorEngine fixed(options);
  EXPECT_EQ(CardNumber(fixed), 70u);
  EXPECT_TRUE(NamesCard(fixed.CardCertificate(), "QOR-SIM", 70));
  // The next new card takes no number given before, the fixed one included.
  options.stateFile = first.Folder() / "after.state";
  options.tpIdNo.reset();
  QorEngine after(options);
  EXPECT_EQ(CardNumber(after), 71u);
  // Restarted, a card keeps its number.
  one.reset();  // a card sits in one reader at a time
  options.stateFile = first.File();
  QorEngine restarted(options);
  EXPECT_EQ(CardNumber(restarted), a);
}

TEST(IssuedCards, CardCertificateChainsToTheIssuer) {
  TempState temp("card-chain");
  QorEngine card(temp.Options());
  ASSERT_FALSE(card.StartError());
  const Bytes issuer = FileBytes(temp.IssuerFolder() / TestIssuerCertificateFile().filename());
  EXPECT_EQ(card.CaCertificate(), issuer);
  const Bytes certificate = card.CardCertificate();
  EXPECT_EQ(ChainError(certificate, issuer), "");
  ASSERT_GT(certificate.size(), 255u);
  EXPECT_EQ(certificate[0], 0x30);
  EXPECT_EQ(certificate[1], 0x82);

  CertificateHandle x509 = DecodeCertificate(certificate);
  ASSERT_TRUE(x509);
  EXPECT_EQ(X509_check_ca(x509.get()), 0);
  EXPECT_EQ(X509_get_key_usage(x509.get()), std::uint32_t{KU_DIGITAL_SIGNATURE});
  EXPECT_EQ(X509_NAME_cmp(X509_get_issuer_name(x509.get()),
                          X509_get_subject_name(DecodeCertificate(issuer).get())),
            0);
  EXPECT_TRUE(NamesCard(certificate, "QOR-SIM", CardNumber(card)));

  // Another issuer, even with the same names, is not this chain's anchor.
  TempState other("card-chain-other");
  auto stranger = TestIssuer::Open(other.IssuerFolder());
  ASSERT_TRUE(stranger);
  EXPECT_NE(ChainError(certificate, stranger->Certificate()), "");
}

TEST(IssuedCards, OldCardFromAThrowAwayCaIsCertifiedAnewWithTheSameKey) {
  TempState temp("card-old");
  // A card as kept before the issuer existed: certified by a CA of its own.
  auto discarded = TestIssuer::ThrowAway();
  ASSERT_TRUE(discarded);
  auto keys = CreateCardKeys(*discarded, "QOR-SIM", 5);
  ASSERT_TRUE(keys);
  ASSERT_TRUE(WriteFileAtomic(temp.File(), testing::OldFormatState(*keys, 5, 9)));

  Bytes renewed;
  {
    QorEngine card(temp.Options());
    ASSERT_FALSE(card.StartError()) << card.StartError()->English();
    renewed = card.CardCertificate();
    EXPECT_NE(renewed, keys->certificate);
    EXPECT_EQ(ChainError(renewed, card.CaCertificate()), "");
    EXPECT_EQ(card.CaCertificate(),
              FileBytes(temp.IssuerFolder() / TestIssuerCertificateFile().filename()));
    EXPECT_TRUE(CertifiesKey(renewed, keys->privateKey));
    EXPECT_TRUE(NamesCard(renewed, "QOR-SIM", 5));
    // READ BINARY gives the new certificate; the card signs with its old key, which the new
    // certificate holds.
    ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
    ASSERT_EQ(Send(card, "00 A4 00 0C 02 11 10").sw, 0x9000);
    const auto head = Send(card, "00 B0 00 00 40");
    ASSERT_EQ(head.sw, 0x9000);
    EXPECT_EQ(head.data, Bytes(renewed.begin(), renewed.begin() + 0x40));
    const auto sale = Send(card, Transaction(Vat(0xE1, 100, 0, HexParse("19 00"))));
    ASSERT_EQ(sale.sw, 0x9000);
    const auto elements = SplitElements(sale.data);
    ASSERT_TRUE(elements);
    EXPECT_EQ(ReadUint32((*elements)[2].value), 10u);
  }
  // Kept: the next start finds a sound certificate and leaves it alone.
  const std::string certFile = ReadFile(temp.File().string() + ".cert").value();
  EXPECT_EQ(certFile.substr(0, renewed.size()), ToText(renewed));
  QorEngine restarted(temp.Options());
  EXPECT_EQ(restarted.CardCertificate(), renewed);
  // The old card's number is its own from now on.
  auto issuer = TestIssuer::Open(temp.IssuerFolder());
  ASSERT_TRUE(issuer);
  const auto next = issuer->NextCardNumber();
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, 6u);
}

TEST(IssuedCards, ACardInMemoryOnlyLeavesNoIssuerBehind) {
  TempState temp("card-memory");
  const std::string state = temp.Folder().string();
  ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  QorEngine card{EngineOptions{}};
  ::unsetenv("XDG_STATE_HOME");
  ASSERT_FALSE(card.StartError());
  EXPECT_EQ(ChainError(card.CardCertificate(), card.CaCertificate()), "");
  EXPECT_TRUE(std::filesystem::is_empty(temp.Folder()));
}

}  // namespace
}  // namespace kasse::sim
