#include "verify/receipt_payload.h"

#include <cctype>

#include "common/hex_text.h"
#include "common/packed.h"
#include "protocol/card_answers.h"
#include "protocol/qr_payload.h"

namespace kasse {
namespace {

Error Bad(const std::string& what, std::size_t offset) {
  return MakeError(ErrorKind::kMalformed, what, offset);
}

struct Reader {
  ByteSpan data;
  std::size_t position = 0;

  // The value of the element at the position; the position moves behind it.
  Result<ByteSpan> Take(const char* field) {
    if (position + 2 > data.size()) return Bad(std::string(field) + ": truncated", position);
    const std::size_t length = data[position + 1];
    if (position + 2 + length > data.size())
      return Bad(std::string(field) + ": value runs past the end", position);
    ByteSpan value = data.subspan(position + 2, length);
    position += 2 + length;
    return value;
  }
};

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

Result<PayloadContainer> Container(ByteSpan value, int number, std::size_t offset) {
  PayloadContainer container;
  container.number = number;
  Reader inner{value};
  while (inner.position < value.size()) {
    const std::size_t at = offset + 2 + inner.position;
    const Byte tag = value[inner.position];
    auto element = inner.Take("container element");
    if (!element) return Error{element.error().kind, element.error().message, at};
    if (tag == 0xD8) {
      auto amount = Amount(*element, "turnover", at);
      if (!amount) return amount.error();
      container.turnover = *amount;
    } else if (tag == 0xDB) {
      container.rateDigits = HexCompact(*element);
      while (container.rateDigits.size() < 4)
        container.rateDigits.insert(0, "0");
    } else if (tag == 0xD6) {
      auto amount = Amount(*element, "turnoverthirdparty", at);
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
  Reader reader{payload};
  bool seenSignature = false;
  bool seenSequence = false;
  while (reader.position < payload.size()) {
    const std::size_t at = reader.position;
    const Byte tag = payload[at];
    if (seenSignature && tag != 0x9A) return Bad("data after the signature", at);
    auto value = reader.Take("element");
    if (!value) return value.error();
    switch (tag) {
      case 0xCD: {
        auto date = Digits(*value, 4, "date", at);
        if (!date) return date.error();
        receipt.date = *date;
        break;
      }
      case 0xCE: {
        auto time = Digits(*value, 2, "time", at);
        if (!time) return time.error();
        receipt.time = *time;
        break;
      }
      case 0xC6:
        receipt.operatorId = ToText(*value);
        break;
      case 0xC7:
        if (value->size() != 20) return Bad("item-list hash: not 20 bytes", at);
        receipt.itemHash.assign(value->begin(), value->end());
        break;
      case 0xC9:
        receipt.vatAddon = true;
        break;
      case 0xCA:
        receipt.training = true;
        break;
      case 0xD7:
        receipt.deliveryNote = true;
        break;
      case 0xC4:
        receipt.tpId = ToText(*value);
        break;
      case 0xC5:
      case 0xCB: {
        auto number = ReadCardInteger(*value);
        if (!number || value->empty()) return Bad(tag == 0xC5 ? "tpIdNo" : "sequence number", at);
        (tag == 0xC5 ? receipt.tpIdNo : receipt.seqNo) = *number;
        seenSequence = seenSequence || tag == 0xCB;
        break;
      }
      case 0x9E:
        if (value->size() != 48) return Bad("signature: not 48 bytes", at);
        receipt.signature.assign(value->begin(), value->end());
        receipt.signedMessage.assign(payload.begin(),
                                     payload.begin() + static_cast<std::ptrdiff_t>(at));
        seenSignature = true;
        break;
      case 0x9A:
        receipt.debugHash = Bytes(value->begin(), value->end());
        break;
      default:
        if (tag >= 0xE1 && tag <= 0xE6) {
          auto container = Container(*value, tag - 0xE0, at);
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

Result<Bytes> PayloadOfUrl(std::string_view urlOrT1) {
  std::string_view t1 = urlOrT1;
  if (const std::size_t key = t1.find("t1="); key != std::string_view::npos) {
    t1.remove_prefix(key + 3);
    t1 = t1.substr(0, t1.find('&'));
  }
  const std::string text = PercentDecoded(t1);
  t1 = text;
  if (t1.empty()) return MakeError(ErrorKind::kMissingInput, "t1: empty");
  if (t1.size() > 4096) return MakeError(ErrorKind::kTooLong, "t1: longer than any receipt's");
  auto bytes = DecodeT1(t1);
  if (!bytes) return MakeError(ErrorKind::kMalformed, "t1: not Base64");
  return *bytes;
}

}  // namespace kasse
