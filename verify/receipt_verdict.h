#pragma once
// The verdict on one receipt: its decoded payload, whether the card's signature holds, and
// the readable text the command line and the web page show.

#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/result.h"
#include "verify/receipt_payload.h"

namespace kasse {

enum class Validity { kValid, kInvalid, kUnusable };

struct ReceiptVerdict {
  Validity validity = Validity::kUnusable;
  std::optional<ReceiptPayload> receipt;
  std::string reason;  // what is wrong, for an invalid or unusable receipt
};

// `certificateDer` empty: the payload is decoded but the signature cannot be judged.
ReceiptVerdict VerifyReceiptUrl(std::string_view urlOrT1, ByteSpan certificateDer);

// Cents of tax in a container's turnover: on top of it for net prices, inside it otherwise.
std::int64_t ContainerTax(const PayloadContainer& container, bool vatAddon);

// Plain text, one field a line (UTF-8).
std::string VerdictText(const ReceiptVerdict& verdict);

}  // namespace kasse
