// A receipt's verification URL or t1 text: decoded and judged against a card certificate and
// its issuer, as kavelo-verify and the verification page do with whatever a QR code holds.

#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "sim/qor_engine.h"
#include "verify/certificate_index.h"
#include "verify/receipt_payload.h"
#include "verify/receipt_verdict.h"

namespace {

const kasse::CertificateIndex& Index(bool withCard) {
  static const kasse::CertificateIndex empty(kasse::CertificateSources{});
  static const kasse::CertificateIndex card = [] {
    kasse::sim::QorEngine engine(kasse::sim::EngineOptions{});
    kasse::CertificateSources sources;
    sources.cards = {engine.CardCertificate()};
    sources.trusted = {engine.CaCertificate()};
    return kasse::CertificateIndex(sources);
  }();
  return withCard ? card : empty;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  const Byte mode = input.TakeByte();
  if (mode & 1) {
    // The payload bytes themselves, as they come out of the Base64 of t1.
    if (Result<ReceiptPayload> payload = DecodeReceiptPayload(input.Rest())) {
      if (payload->signature.size() != 48) fuzz::Violated("signature of 48 bytes");
      if (payload->signedMessage.size() > input.Rest().size())
        fuzz::Violated("the signed part lies inside the payload");
      for (const PayloadContainer& container : payload->containers)
        if (!ContainerTax(container, payload->vatAddon)) fuzz::Violated("a decoded rate taxes");
    }
    return 0;
  }
  const bool withCard = (mode & 2) != 0;
  const ReceiptVerdict verdict = JudgeReceipt(input.RestText(), Index(withCard));
  if (verdict.validity == Validity::kValid && !withCard)
    fuzz::Violated("no verdict without a certificate");
  if (verdict.validity == Validity::kValid && !verdict.receipt)
    fuzz::Violated("a valid verdict has a receipt");
  (void)VerdictText(verdict);
  return 0;
}
