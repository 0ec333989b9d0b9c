#pragma once
// One record of an S journal decoded: the request, and the card's answer, refusal, rejected answer
// or nothing; for an answer (and a rejected one) the card's name, number, sequence number and
// signature, the signature checked against the card certificate of the journal's parameter block.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

struct ScannedRecord;
class ParsedCertificate;

struct AuditedRecord {
  bool transaction = true;
  std::size_t offset = 0, number = 0;
  std::string tpId;
  std::uint64_t tpIdNo = 0, seqNo = 0;
  Bytes signature, request;
  bool answered = false;
  bool refused = false;   // the card refused it: nothing signed, no number used
  bool rejected = false;  // the register refused the card's answer: a number already journalled
  // Of the request and the answer bytes (first 8 bytes of their SHA-256): a record journalled
  // twice, byte for byte, is one record.
  std::uint64_t print = 0;
};

struct Checked {
  std::optional<AuditedRecord> record;  // none: the record cannot be read at all
  std::string problem;                  // what is wrong; empty for none
};

// A transactionEncoded, reportEncoded, transactionLate or reportLate record; without a
// certificate the signature cannot be checked (a problem). A rejected answer (transactionRejected,
// reportRejected) is decoded and checked as any answer, but `answered` stays false: it is
// evidence, not a receipt.
Checked CheckRecord(const ScannedRecord& scanned, const ParsedCertificate* certificate);

// The Base64 content of the first element `name` in body, decoded; kMissingInput when there is
// no such element.
Result<Bytes> Base64Child(std::string_view body, std::string_view name);

}  // namespace kasse
