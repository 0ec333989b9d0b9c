#include "bench/card_floor.h"

#include <thread>

#include "common/card_tags.h"
#include "common/hex_text.h"
#include "sim/tlv.h"

namespace kasse::bench {
namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t StatusWord(const Bytes& answer) {
  if (answer.size() < 2) return 0;
  return static_cast<std::uint16_t>((answer[answer.size() - 2] << 8) | answer.back());
}

std::string StatusText(const Bytes& answer) {
  return answer.size() < 2 ? "a short answer" : "status " + HexWritten(ByteSpan(answer).last(2));
}

// The sequence number of a signed answer, when the answer holds CB and a 48-byte 9E.
std::optional<std::uint32_t> SignedNumber(const Bytes& answer) {
  if (StatusWord(answer) != 0x9000) return std::nullopt;
  const auto elements = sim::SplitElements(ByteSpan(answer).first(answer.size() - 2));
  if (!elements) return std::nullopt;
  std::optional<std::uint32_t> number;
  bool signature = false;
  for (const sim::Element& element : *elements) {
    if (element.tag == tag::kTransactionSeq && element.value.size() == 4)
      number = sim::ReadUint32(element.value);
    if (element.tag == tag::kSignature && element.value.size() == 48) signature = true;
  }
  return signature ? number : std::nullopt;
}

}  // namespace

FloorRun RunFloor(const CardTransport& card, const Bytes& command, int count) {
  FloorRun run;
  const Result<Bytes> selected = card(SelectQor());
  if (!selected || StatusWord(*selected) != 0x9000) {
    run.failure = "SELECT: " + (selected ? StatusText(*selected) : selected.error().English());
    return run;
  }
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < count; ++i) {
    const Result<Bytes> answer = card(command);
    if (!answer) {
      run.failure = "TRANSACTION " + std::to_string(i + 1) + ": " + answer.error().English();
      break;
    }
    const std::optional<std::uint32_t> number = SignedNumber(*answer);
    if (!number || (run.signedCount > 0 && *number != run.lastNumber + 1)) {
      run.failure =
          "TRANSACTION " + std::to_string(i + 1) + ": " +
          (number ? "sequence number out of order" : "no signature, " + StatusText(*answer));
      break;
    }
    if (run.signedCount == 0) run.firstNumber = *number;
    run.lastNumber = *number;
    ++run.signedCount;
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return run;
}

PcscTransport::~PcscTransport() {
  if (card_ != 0) api_.Disconnect(card_, Disposition::kLeaveCard);
  if (context_ != 0) api_.ReleaseContext(context_);
}

Result<void> PcscTransport::TryConnect() {
  if (context_ != 0 && !api_.IsValidContext(context_)) {
    api_.ReleaseContext(context_);
    context_ = 0;
  }
  if (context_ == 0 && api_.EstablishContext(context_) != pcsc::kSuccess) {
    context_ = 0;
    return MakeError(ErrorKind::kCard, "pcscd does not answer");
  }
  std::string names;
  if (api_.ListReaders(context_, names) != pcsc::kSuccess)
    return MakeError(ErrorKind::kCard, "no readers in pcscd");
  for (std::size_t at = 0; at < names.size() && names[at] != '\0';) {
    const std::string name = names.c_str() + at;
    at += name.size() + 1;
    if (name.find("Virtual PCD") == std::string::npos) continue;
    if (api_.Connect(context_, name, pcsc::kProtocolMask, card_, protocol_) == pcsc::kSuccess) {
      reader_ = name;
      return {};
    }
    card_ = 0;
  }
  return MakeError(ErrorKind::kCard, "no card in a vpcd reader");
}

Result<void> PcscTransport::Connect(std::chrono::milliseconds patience) {
  const Clock::time_point end = Clock::now() + patience;
  Result<void> connected = TryConnect();
  while (!connected && Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    connected = TryConnect();
  }
  return connected;
}

Result<Bytes> PcscTransport::Transmit(ByteSpan command) {
  Bytes answer;
  const PcscCode code = api_.Transmit(card_, protocol_, command, 512, answer);
  if (code != pcsc::kSuccess)
    return MakeError(ErrorKind::kCard, "transmit failed: " + std::to_string(code));
  return answer;
}

}  // namespace kasse::bench
