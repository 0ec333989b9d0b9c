#pragma once
// The verdict on one receipt: its decoded payload, whether the card's signature holds, and
// the readable text the command line and the web page show.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"
#include "verify/receipt_payload.h"

namespace kasse {

enum class Validity { kValid, kInvalid, kUnusable };

struct ReceiptVerdict {
  Validity validity = Validity::kUnusable;
  std::optional<ReceiptPayload> receipt;
  std::string reason;        // what is wrong, for an invalid or unusable receipt
  bool cardUnknown = false;  // unusable because no certificate names the receipt's card
};

class CertificateIndex;

// Judges a receipt with every certificate the index holds for its card: valid when one that a
// trusted issuer vouches for holds the card's signature; invalid when none does, the reason
// naming each certificate and what failed; unusable when the payload cannot be read or no
// certificate names the card.
ReceiptVerdict JudgePayload(const Result<Bytes>& payload, const CertificateIndex& index);
// The same for a verification URL or a bare t1 value.
ReceiptVerdict JudgeReceipt(std::string_view urlOrT1, const CertificateIndex& index);

// Rates are hundredths of a percent; 99.99 % is the highest a receipt may carry.
inline constexpr std::int64_t kHighestRate = 9999;

// Cents of tax in a container's turnover: on top of it for net prices, inside it otherwise,
// rounded half away from zero; nothing for a rate that is not 0 to 99.99 %.
std::optional<std::int64_t> ContainerTax(const PayloadContainer& container, bool vatAddon);

// A receipt against one given card certificate, judged as JudgeReceipt does: the certificate
// must name the receipt's card and chain to one of `issuers` (DER).
ReceiptVerdict VerifyReceiptUrl(std::string_view urlOrT1, ByteSpan certificateDer,
                                std::vector<Bytes> issuers);
// The same with the user's test issuer, which certifies every simulated card: for tests of the
// register, which know their own card.
ReceiptVerdict VerifyReceiptUrl(std::string_view urlOrT1, ByteSpan certificateDer);

// Plain text, one field a line (UTF-8).
std::string VerdictText(const ReceiptVerdict& verdict);

}  // namespace kasse
