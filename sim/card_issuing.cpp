#include "sim/card_issuing.h"

#include "sim/certificate_maker.h"

namespace kasse::sim {

Result<TestIssuer> CardIssuer(const EngineOptions& options) {
  if (options.issuerFolder.empty() && options.stateFile.empty()) return TestIssuer::ThrowAway();
  return TestIssuer::Open(options.issuerFolder);
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

Result<bool> RecertifyCard(const EngineOptions& options, const CardState& state, CardKeys& keys) {
  auto issuer = CardIssuer(options);
  if (!issuer) return issuer.error();
  const bool sound = issuer->Issued(keys.certificate) &&
                     CertifiesKey(keys.certificate, keys.privateKey) &&
                     NamesCard(keys.certificate, state.tpId, state.tpIdNo);
  if (sound) {
    if (keys.caCertificate == issuer->Certificate()) return false;
    keys.caCertificate = issuer->Certificate();
    return true;
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
