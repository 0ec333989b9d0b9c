#include "protocol/card_answers.h"

#include "common/card_tags.h"
#include "common/hex_text.h"
#include "common/language_texts.h"
#include "common/tlv_reader.h"
#include "protocol/protocol_messages.h"

namespace kasse {
namespace {

constexpr std::size_t kSignatureLength = 48;
constexpr std::size_t kMaxDataLength = 250;

Error Short(const char* what, std::size_t offset) {
  return MakeError(ErrorKind::kMalformed, protocol_msg::kCardAnswerEnds, {what}, offset);
}

}  // namespace

Result<std::uint64_t> ReadCardInteger(ByteSpan value) {
  if (value.size() > 8) return MakeError(ErrorKind::kMalformed, "number longer than 8 bytes", 8);
  std::uint64_t number = 0;
  for (Byte b : value)
    number = (number << 8) | b;
  return number;
}

Result<TransactionAnswer> ReadTransactionAnswer(ByteSpan answer) {
  TransactionAnswer result;
  TlvReader reader(answer);
  auto id = reader.Next();
  if (!id) return Short("tpId", id.error().offset);
  result.tpId = ToText(id->value);
  auto number = reader.Next();
  if (!number) return Short("tpIdNo", number.error().offset);
  auto tpIdNo = ReadCardInteger(number->value);
  if (!tpIdNo)
    return MakeError(ErrorKind::kMalformed, protocol_msg::kTpIdNoTooLong, {}, number->offset);
  result.tpIdNo = *tpIdNo;
  auto sequence = reader.Next();
  if (!sequence) return Short("the sequence number", sequence.error().offset);
  auto seqNo = ReadCardInteger(sequence->value);
  if (!seqNo)
    return MakeError(ErrorKind::kMalformed, protocol_msg::kSequenceTooLong, {}, sequence->offset);
  result.seqNo = *seqNo;
  // The signature's length byte is not trusted: the card always signs with 48 bytes.
  auto signature = reader.NextFixed(kSignatureLength);
  if (!signature) return Short("the signature", signature.error().offset);
  result.signature.assign(signature->value.begin(), signature->value.end());
  if (reader.PeekTag() == tag::kDebugHash) {
    auto debug = reader.Next();
    if (!debug) return Short("the debug hash", debug.error().offset);
    result.debugHash = Bytes(debug->value.begin(), debug->value.end());
  }
  return result;
}

Result<Bytes> BuildVerifyRecord(ByteSpan verifyRecord, std::size_t containerMark, ByteSpan answer) {
  std::optional<TlvElement> sequence;
  std::optional<TlvElement> signature;
  for (TlvReader reader(answer); !reader.AtEnd();) {
    auto element = reader.Next();
    if (!element) break;
    if (!sequence && element->tag == tag::kTransactionSeq) {
      sequence = *element;
    } else if (sequence && element->tag == tag::kSignature) {
      signature = *element;
      break;
    }
  }
  if (!sequence || !signature)
    return MakeError(ErrorKind::kMalformed, protocol_msg::kNoSequenceNumber);
  if (verifyRecord.size() < 5)
    return MakeError(ErrorKind::kMissingInput, protocol_msg::kNoRecordToVerify);
  if (containerMark == 0 || containerMark > verifyRecord.size())
    containerMark = verifyRecord.size();
  const std::size_t dataLength =
      verifyRecord.size() - 5 + 2 + sequence->value.size() + 2 + signature->value.size();
  if (dataLength > kMaxDataLength)
    return MakeError(ErrorKind::kTooLong, protocol_msg::kVerifyDataTooLong);
  Bytes command(verifyRecord.begin(),
                verifyRecord.begin() + static_cast<std::ptrdiff_t>(containerMark));
  command.push_back(tag::kTransactionSeq);
  command.push_back(static_cast<Byte>(sequence->value.size()));
  command.insert(command.end(), sequence->value.begin(), sequence->value.end());
  command.insert(command.end(), verifyRecord.begin() + static_cast<std::ptrdiff_t>(containerMark),
                 verifyRecord.end());
  command.push_back(tag::kSignature);
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
