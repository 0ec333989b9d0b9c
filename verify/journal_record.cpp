#include "verify/journal_record.h"

#include <algorithm>

#include "common/base_n.h"
#include "common/card_tags.h"
#include "common/payload_filter.h"
#include "common/sha.h"
#include "common/tlv_reader.h"
#include "journal/journal_scan.h"
#include "verify/card_certificate.h"
#include "verify/receipt_payload.h"

namespace kasse {
namespace {

std::string Text(ByteSpan bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::uint64_t Unsigned(ByteSpan bytes) {
  std::uint64_t value = 0;
  for (Byte b : bytes.first(std::min<std::size_t>(bytes.size(), 8)))
    value = value << 8 | b;
  return value;
}

bool IsStatusWord(std::string_view text) {
  if (text.size() != 4) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

// The first eight bytes of the SHA-256 of request and answer, with the request's length between
// them so that no two splits of the same bytes meet.
std::uint64_t Print(const Bytes& request, const Bytes& answer) {
  Bytes both;
  both.reserve(request.size() + answer.size() + 8);
  for (int shift = 56; shift >= 0; shift -= 8)
    both.push_back(static_cast<Byte>(request.size() >> shift));
  both.insert(both.end(), request.begin(), request.end());
  both.insert(both.end(), answer.begin(), answer.end());
  const Sha256Digest digest = Sha256(both);
  return Unsigned(ByteSpan(digest).first(8));
}

}  // namespace

Result<Bytes> Base64Child(std::string_view body, std::string_view name) {
  auto text = ChildText(body, name);
  if (!text) return MakeError(ErrorKind::kMissingInput, std::string(name) + ": no such element");
  return Base64Decode(*text);
}

Checked CheckRecord(const ScannedRecord& scanned, const ParsedCertificate* certificate) {
  Checked checked;
  AuditedRecord record;
  record.transaction = scanned.name.starts_with("transaction");
  record.offset = scanned.offset;
  const std::string prefix = record.transaction ? "transaction" : "report";
  if (!ChildText(scanned.body, prefix + "Request")) {
    checked.record = record;  // a failed exchange: nothing was sent
    return checked;
  }
  auto request = Base64Child(scanned.body, prefix + "Request");
  if (!request) return {std::nullopt, "request is not Base64"};
  record.request = *request;
  const auto refusal = ChildText(scanned.body, prefix + "Refused");
  const bool responded = ChildText(scanned.body, prefix + "Response").has_value();
  const bool rejected = ChildText(scanned.body, prefix + "Rejected").has_value();
  if (refusal && responded) return {std::nullopt, "both an answer and a refusal"};
  if (rejected && (refusal || responded))
    return {std::nullopt, "a rejected answer beside an answer or a refusal"};
  if (refusal) {
    record.refused = true;
    checked.record = record;
    if (!IsStatusWord(*refusal)) checked.problem = "refusal: not a status word (4 hex digits)";
    return checked;
  }
  if (!responded && !rejected) {
    checked.record = record;
    return checked;
  }
  auto response = Base64Child(scanned.body, prefix + (rejected ? "Rejected" : "Response"));
  if (!response)
    return {std::nullopt, rejected ? "rejected answer is not Base64" : "response is not Base64"};
  record.print = Print(*request, *response);
  record.rejected = rejected;
  record.answered = !rejected;
  Bytes message = *request;
  Bytes signature;
  if (record.transaction) {
    message.insert(message.end(), response->begin(), response->end());
    FilterPayload(message);
    auto receipt = DecodeReceiptPayload(message);
    if (!receipt) return {std::nullopt, "undecodable: " + receipt.error().English()};
    record.tpId = receipt->tpId;
    record.tpIdNo = receipt->tpIdNo;
    record.seqNo = receipt->seqNo;
    signature = receipt->signature;
    message = receipt->signedMessage;
  } else {
    auto elements = ReadTlvElements(*response);
    if (!elements || elements->size() < 4) return {std::nullopt, "undecodable report answer"};
    record.tpId = Text((*elements)[1].value);
    record.tpIdNo = Unsigned((*elements)[2].value);
    record.seqNo = Unsigned((*elements)[3].value);
    for (const TlvElement& element : *elements) {
      if (element.tag != tag::kSignature) continue;
      signature.assign(element.value.begin(), element.value.end());
      message.insert(message.end(), response->begin(),
                     response->begin() + static_cast<std::ptrdiff_t>(element.offset));
      break;
    }
  }
  record.signature = signature;
  checked.record = record;
  if (signature.empty()) return checked;  // an unsigned daily closing
  if (certificate == nullptr) {
    checked.problem = "no certificate in the parameter block; signature not checked";
    return checked;
  }
  auto valid = CheckSignatureWithKey(certificate->Key(), message, signature);
  if (!valid) {
    checked.problem = "signature unusable: " + valid.error().English();
  } else if (!*valid) {
    checked.problem = "signature does not match the signed data";
  }
  return checked;
}

}  // namespace kasse
