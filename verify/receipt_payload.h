#pragma once
// What a receipt's QR code carries: the reduced transaction data the card signed, followed by
// the card's identity, sequence number and signature. Decoding is strict: every element must
// be known and complete, and a problem names the field and the byte offset.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

struct PayloadContainer {
  int number = 0;             // 1..6
  std::int64_t turnover = 0;  // cents
  std::string rateDigits;     // "1900"
  std::optional<std::int64_t> turnoverThirdParty;
};

struct ReceiptPayload {
  std::string date;  // yyyyMMdd
  std::string time;  // hhmm
  std::string operatorId;
  Bytes itemHash;  // 20 bytes
  bool vatAddon = false;
  bool training = false;
  bool deliveryNote = false;
  std::vector<PayloadContainer> containers;
  std::string tpId;
  std::uint64_t tpIdNo = 0;
  std::uint64_t seqNo = 0;
  Bytes signature;  // r and s, 24 bytes each
  std::optional<Bytes> debugHash;
  Bytes signedMessage;  // everything before the signature element
};

Result<ReceiptPayload> DecodeReceiptPayload(ByteSpan payload);

// The t1 value of a verification URL, or the whole URL, to its payload bytes.
Result<Bytes> PayloadOfUrl(std::string_view urlOrT1);

}  // namespace kasse
