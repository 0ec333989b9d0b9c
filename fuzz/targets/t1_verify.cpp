// A receipt's verification URL or t1 text: decoded and checked against a card certificate,
// as kavelo-verify and the verification page do with whatever a QR code holds.

#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "sim/qor_engine.h"
#include "verify/receipt_payload.h"
#include "verify/receipt_verdict.h"

namespace {

const kasse::Bytes& Certificate() {
  static const kasse::Bytes certificate = [] {
    kasse::sim::QorEngine engine(kasse::sim::EngineOptions{});
    return engine.CardCertificate();
  }();
  return certificate;
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
    }
    return 0;
  }
  const ByteSpan certificate = (mode & 2) ? ByteSpan(Certificate()) : ByteSpan();
  const ReceiptVerdict verdict = VerifyReceiptUrl(input.RestText(), certificate);
  if (verdict.validity == Validity::kValid && certificate.empty())
    fuzz::Violated("no verdict without a certificate");
  if (verdict.validity == Validity::kValid && !verdict.receipt)
    fuzz::Violated("a valid verdict has a receipt");
  (void)VerdictText(verdict);
  return 0;
}
