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
  std::string rateDigits;     // "1900": hundredths of a percent, 0000 to 9999
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

// The raw (still percent-encoded) value of the one t1 parameter of a query ("a=1&t1=..."):
// a missing, repeated or valueless t1 is an error.
Result<std::string_view> T1Parameter(std::string_view query);

// A t1 value, percent-decoded, to its payload bytes.
Result<Bytes> PayloadOfT1(std::string_view value);

// The t1 parameter of a verification URL (or a query starting "t1="), or a bare t1 value, to
// its payload bytes.
Result<Bytes> PayloadOfUrl(std::string_view urlOrT1);

}  // namespace kasse
