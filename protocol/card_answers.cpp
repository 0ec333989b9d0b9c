#include "protocol/card_answers.h"

#include "common/hex_text.h"
#include "common/language_texts.h"

namespace kasse {
namespace {

constexpr std::size_t kSignatureLength = 48;
constexpr std::size_t kMaxDataLength = 250;

Error Short(const char* what, std::size_t offset) {
  return MakeError(ErrorKind::kMalformed, std::string("card answer ends inside ") + what, offset);
}

// One tag-length-value element at a position, checked against the end of the data.
struct Element {
  Byte tag = 0;
  ByteSpan value;
  std::size_t end = 0;  // position after the element
};

std::optional<Element> ElementAt(ByteSpan data, std::size_t position) {
  if (position + 2 > data.size()) return {};
  const std::size_t end = position + 2 + data[position + 1];
  if (end > data.size()) return {};
  return Element{data[position], data.subspan(position + 2, data[position + 1]), end};
}

}  // namespace

std::optional<std::uint64_t> ReadCardInteger(ByteSpan value) {
  if (value.size() > 8) return {};
  std::uint64_t number = 0;
  for (Byte b : value)
    number = (number << 8) | b;
  return number;
}

Result<TransactionAnswer> ReadTransactionAnswer(ByteSpan answer) {
  TransactionAnswer result;
  auto id = ElementAt(answer, 0);
  if (!id) return Short("tpId", 0);
  result.tpId = ToText(id->value);
  auto number = ElementAt(answer, id->end);
  if (!number) return Short("tpIdNo", id->end);
  auto tpIdNo = ReadCardInteger(number->value);
  if (!tpIdNo) return MakeError(ErrorKind::kMalformed, "tpIdNo longer than 8 bytes", id->end);
  result.tpIdNo = *tpIdNo;
  auto sequence = ElementAt(answer, number->end);
  if (!sequence) return Short("the sequence number", number->end);
  auto seqNo = ReadCardInteger(sequence->value);
  if (!seqNo)
    return MakeError(ErrorKind::kMalformed, "sequence number longer than 8 bytes", number->end);
  result.seqNo = *seqNo;
  const std::size_t signatureStart = sequence->end + 2;
  if (signatureStart + kSignatureLength > answer.size())
    return Short("the signature", sequence->end);
  result.signature.assign(answer.begin() + static_cast<std::ptrdiff_t>(signatureStart),
                          answer.begin() + static_cast<std::ptrdiff_t>(signatureStart + 48));
  const std::size_t after = signatureStart + kSignatureLength;
  if (after < answer.size() && answer[after] == 0x9A) {
    auto debug = ElementAt(answer, after);
    if (!debug) return Short("the debug hash", after);
    result.debugHash = Bytes(debug->value.begin(), debug->value.end());
  }
  return result;
}

Result<Bytes> BuildVerifyRecord(ByteSpan verifyRecord, std::size_t containerMark, ByteSpan answer) {
  std::optional<Element> sequence;
  std::optional<Element> signature;
  for (std::size_t position = 0; position < answer.size();) {
    auto element = ElementAt(answer, position);
    if (!element) break;
    if (!sequence && element->tag == 0xCB)
      sequence = element;
    else if (sequence && element->tag == 0x9E) {
      signature = element;
      break;
    }
    position = element->end;
  }
  if (!sequence || !signature)
    return MakeError(ErrorKind::kMalformed,
                     "the card's answer has no sequence number with a signature behind it");
  if (verifyRecord.size() < 5)
    return MakeError(ErrorKind::kMissingInput, "no transaction record to verify");
  if (containerMark == 0 || containerMark > verifyRecord.size())
    containerMark = verifyRecord.size();
  const std::size_t dataLength =
      verifyRecord.size() - 5 + 2 + sequence->value.size() + 2 + signature->value.size();
  if (dataLength > kMaxDataLength)
    return MakeError(ErrorKind::kTooLong, "the data to verify exceed 250 bytes; not verified");
  Bytes command(verifyRecord.begin(),
                verifyRecord.begin() + static_cast<std::ptrdiff_t>(containerMark));
  command.push_back(0xCB);
  command.push_back(static_cast<Byte>(sequence->value.size()));
  command.insert(command.end(), sequence->value.begin(), sequence->value.end());
  command.insert(command.end(), verifyRecord.begin() + static_cast<std::ptrdiff_t>(containerMark),
                 verifyRecord.end());
  command.push_back(0x9E);
  command.push_back(static_cast<Byte>(signature->value.size()));
  command.insert(command.end(), signature->value.begin(), signature->value.end());
  command[4] = static_cast<Byte>(dataLength);
  command.push_back(0x00);
  return command;
}

std::string ReportAmountText(ByteSpan value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (Byte b : value) {
    text.push_back(kDigits[b >> 4]);
    const int low = b & 0x0F;
    if (low != 0x0C && low != 0x0D) text.push_back(kDigits[low]);
  }
  if (!value.empty() && (value.back() & 0x0F) == 0x0D) text.insert(text.begin(), '-');
  return text;
}

}  // namespace kasse
