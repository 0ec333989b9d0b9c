#include "verify/receipt_payload.h"

#include <cctype>
#include <optional>

#include "common/card_tags.h"
#include "common/hex_text.h"
#include "common/packed.h"
#include "common/tlv_reader.h"
#include "protocol/card_answers.h"
#include "protocol/qr_payload.h"

namespace kasse {
namespace {

Error Bad(const std::string& what, std::size_t offset) {
  return MakeError(ErrorKind::kMalformed, what, offset);
}

// The element at the reader's position, or what is wrong with it under the field's name.
Result<TlvElement> Take(TlvReader& reader, const char* field) {
  auto element = reader.Next();
  if (element) return element;
  const char* what =
      reader.Fault() == TlvFault::kHeaderCut ? ": truncated" : ": value runs past the end";
  return Bad(field + std::string(what), element.error().offset);
}

Result<std::string> Digits(ByteSpan value, std::size_t size, const char* field,
                           std::size_t offset) {
  if (value.size() != size) return Bad(std::string(field) + ": wrong length", offset);
  const std::string digits = HexCompact(value);
  for (char c : digits)
    if (c < '0' || c > '9') return Bad(std::string(field) + ": not packed digits", offset);
  return digits;
}

Result<std::int64_t> Amount(ByteSpan value, const char* field, std::size_t offset) {
  auto amount = UnpackSignedAmount(value);
  if (!amount) return Bad(std::string(field) + ": not a signed packed amount", offset);
  return *amount;
}

// Hundredths of a percent as four digits; a rate of 100 % or more leaves nothing to tax.
Result<std::string> RateDigits(ByteSpan value, int container, std::size_t offset) {
  const std::string field = "rate of containerVat" + std::to_string(container);
  if (value.empty()) return Bad(field + ": empty", offset);
  const std::string digits = HexCompact(value);
  for (char c : digits)
    if (c < '0' || c > '9') return Bad(field + ": not packed digits", offset);
  const std::size_t significant = digits.find_first_not_of('0');
  if (significant != std::string::npos && digits.size() - significant > 4)
    return Bad(field + ": above 99.99 %", offset);
  return digits.size() >= 4 ? digits.substr(digits.size() - 4)
                            : std::string(4 - digits.size(), '0') + digits;
}

Result<PayloadContainer> Container(const TlvElement& outer, int number) {
  PayloadContainer container;
  container.number = number;
  TlvReader inner = TlvReader::Inside(outer);
  while (!inner.AtEnd()) {
    auto element = Take(inner, "container element");
    if (!element) return element.error();
    const std::size_t at = element->offset;
    const Byte tag = element->tag;
    if (tag == tag::kTurnover) {
      auto amount = Amount(element->value, "turnover", at);
      if (!amount) return amount.error();
      container.turnover = *amount;
    } else if (tag == tag::kRate) {
      auto rate = RateDigits(element->value, number, at);
      if (!rate) return rate.error();
      container.rateDigits = *rate;
    } else if (tag == tag::kTurnoverThirdParty) {
      auto amount = Amount(element->value, "turnoverthirdparty", at);
      if (!amount) return amount.error();
      container.turnoverThirdParty = *amount;
    } else {
      return Bad("unknown element " + HexCompact(ByteSpan(&tag, 1)) + " in containerVat" +
                     std::to_string(number),
                 at);
    }
  }
  return container;
}

}  // namespace

Result<ReceiptPayload> DecodeReceiptPayload(ByteSpan payload) {
  ReceiptPayload receipt;
  TlvReader reader(payload);
  bool seenSignature = false;
  bool seenSequence = false;
  while (!reader.AtEnd()) {
    const std::size_t at = reader.Offset();
    const Byte tag = *reader.PeekTag();
    if (seenSignature && tag != tag::kDebugHash) return Bad("data after the signature", at);
    auto element = Take(reader, "element");
    if (!element) return element.error();
    const ByteSpan value = element->value;
    switch (tag) {
      case tag::kDate: {
        auto date = Digits(value, 4, "date", at);
        if (!date) return date.error();
        receipt.date = *date;
        break;
      }
      case tag::kTime: {
        auto time = Digits(value, 2, "time", at);
        if (!time) return time.error();
        receipt.time = *time;
        break;
      }
      case tag::kOperator:
        receipt.operatorId = ToText(value);
        break;
      case tag::kItemHash:
        if (value.size() != 20) return Bad("item-list hash: not 20 bytes", at);
        receipt.itemHash.assign(value.begin(), value.end());
        break;
      case tag::kVatAddon:
        receipt.vatAddon = true;
        break;
      case tag::kTraining:
        receipt.training = true;
        break;
      case tag::kDeliveryNote:
        receipt.deliveryNote = true;
        break;
      case tag::kTpId:
        receipt.tpId = ToText(value);
        break;
      case tag::kTpIdNo:
      case tag::kTransactionSeq: {
        auto number = ReadCardInteger(value);
        if (!number || value.empty())
          return Bad(tag == tag::kTpIdNo ? "tpIdNo" : "sequence number", at);
        (tag == tag::kTpIdNo ? receipt.tpIdNo : receipt.seqNo) = *number;
        seenSequence = seenSequence || tag == tag::kTransactionSeq;
        break;
      }
      case tag::kSignature:
        if (value.size() != 48) return Bad("signature: not 48 bytes", at);
        receipt.signature.assign(value.begin(), value.end());
        receipt.signedMessage.assign(payload.begin(),
                                     payload.begin() + static_cast<std::ptrdiff_t>(at));
        seenSignature = true;
        break;
      case tag::kDebugHash:
        receipt.debugHash = Bytes(value.begin(), value.end());
        break;
      default:
        if (tag::IsVatContainer(tag)) {
          auto container = Container(*element, tag::VatContainerNumber(tag));
          if (!container) return container.error();
          receipt.containers.push_back(*container);
          break;
        }
        return Bad("unknown element " + HexCompact(ByteSpan(&payload[at], 1)), at);
    }
  }
  if (receipt.date.empty()) return Bad("no date", 0);
  if (!seenSequence) return Bad("no sequence number", payload.size());
  if (!seenSignature) return Bad("no signature", payload.size());
  return receipt;
}

namespace {

// "%3D" and friends, as a browser or scanner may have written them.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() + 0 &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      decoded.push_back(
          static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    } else {
      decoded.push_back(text[i]);
    }
  }
  return decoded;
}

}  // namespace

Result<std::string_view> T1Parameter(std::string_view query) {
  query = query.substr(0, query.find('#'));
  std::optional<std::string_view> found;
  for (std::size_t at = 0; at <= query.size();) {
    std::size_t end = query.find('&', at);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view pair = query.substr(at, end - at);
    const std::size_t equals = pair.find('=');
    if (pair.substr(0, equals) == "t1") {
      if (equals == std::string_view::npos)
        return MakeError(ErrorKind::kMalformed, "t1: the parameter has no value (no \"=\")");
      if (found) return MakeError(ErrorKind::kMalformed, "t1: the parameter is given twice");
      found = pair.substr(equals + 1);
    }
    at = end + 1;
  }
  if (!found) return MakeError(ErrorKind::kMissingInput, "t1: no such parameter in the query");
  return *found;
}

Result<Bytes> PayloadOfT1(std::string_view value) {
  const std::string text = PercentDecoded(value);
  if (text.empty()) return MakeError(ErrorKind::kMissingInput, "t1: empty");
  if (text.size() > 4096) return MakeError(ErrorKind::kTooLong, "t1: longer than any receipt's");
  auto bytes = DecodeT1(text);
  if (!bytes) return MakeError(ErrorKind::kMalformed, "t1: not Base64");
  return *bytes;
}

Result<Bytes> PayloadOfUrl(std::string_view urlOrT1) {
  std::optional<std::string_view> query;
  if (const std::size_t mark = urlOrT1.find('?'); mark != std::string_view::npos) {
    query = urlOrT1.substr(mark + 1);
  } else if (urlOrT1.starts_with("t1=")) {
    query = urlOrT1;
  } else if (urlOrT1.find("://") != std::string_view::npos) {
    query = std::string_view();  // a URL without a query carries no t1
  }
  if (!query) return PayloadOfT1(urlOrT1);  // a bare t1 value
  auto value = T1Parameter(*query);
  if (!value) return value.error();
  return PayloadOfT1(*value);
}

}  // namespace kasse
