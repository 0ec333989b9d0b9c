#include "sim/card_issuing.h"

#include "common/user_folders.h"
#include "sim/certificate_maker.h"

namespace kasse::sim {
namespace {

// `certificate` signed by `ca`, itself a sound self-signed issuer certificate.
bool ChainsTo(ByteSpan certificate, ByteSpan ca) {
  return !ca.empty() && IsIssuedBy(ca, ca) && IsIssuedBy(certificate, ca);
}

}  // namespace

std::filesystem::path IssuerFolder(const EngineOptions& options) {
  if (!options.issuerFolder.empty()) return options.issuerFolder;
  return options.stateFile.empty() ? std::filesystem::path() : UserStateFolder();
}

Result<TestIssuer> CardIssuer(const EngineOptions& options) {
  const std::filesystem::path folder = IssuerFolder(options);
  if (folder.empty()) return TestIssuer::ThrowAway();
  return TestIssuer::Open(folder, EngineIo(options), options.onNotice);
}

Result<void> IssueCard(const EngineOptions& options, CardState& state, CardKeys& keys) {
  auto issuer = CardIssuer(options);
  if (!issuer) return issuer.error();
  std::uint32_t number = 0;
  if (options.tpIdNo) {
    auto reserved = issuer->Reserve(*options.tpIdNo);
    if (!reserved) return reserved.error();
    number = *options.tpIdNo;
  } else {
    auto next = issuer->NextCardNumber();
    if (!next) return next.error();
    number = *next;
  }
  auto made = CreateCardKeys(*issuer, state.tpId, number);
  if (!made) return made.error();
  state.tpIdNo = number;
  keys = std::move(made.value());
  return {};
}

Result<bool> RecertifyCard(const EngineOptions& options, const CardState& state, CardKeys& keys,
                           const CardPaths& paths) {
  auto issuer = CardIssuer(options);
  if (!issuer) return issuer.error();
  if (issuer->Issued(keys.certificate)) {
    if (keys.caCertificate == issuer->Certificate()) return false;
    // The issuer's certificate made anew for the same key: the file takes the current one.
    if (!keys.caCertificate.empty() && !ChainsTo(keys.certificate, keys.caCertificate)) {
      return CardRefusal(paths, paths.cert, std::nullopt,
                         "the issuer's certificate after the card's is damaged");
    }
    keys.caCertificate = issuer->Certificate();
    return true;
  }
  if (!ChainsTo(keys.certificate, keys.caCertificate)) {
    return CardRefusal(paths, paths.cert, std::nullopt,
                       "the card's certificate is signed neither by the test issuer in " +
                           IssuerFolder(options).string() + " nor by the issuer it names");
  }
  auto publicKey = PublicKeyOf(keys.privateKey);
  if (!publicKey) return publicKey.error();
  // The card keeps its number: its journals and receipts name it.
  auto reserved = issuer->Reserve(state.tpIdNo);
  if (!reserved) return reserved.error();
  auto certificate = issuer->Certify(*publicKey, state.tpId, state.tpIdNo);
  if (!certificate) return certificate.error();
  keys.certificate = std::move(certificate.value());
  keys.caCertificate = issuer->Certificate();
  return true;
}

}  // namespace kasse::sim
