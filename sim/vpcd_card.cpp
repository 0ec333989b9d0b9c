#include "sim/vpcd_card.h"

namespace kasse::sim {
namespace {

// vpcd control codes.
constexpr Byte kPowerOff = 0;
constexpr Byte kPowerOn = 1;
constexpr Byte kReset = 2;
constexpr Byte kGetAtr = 4;

}  // namespace

FrameOutcome VpcdCard::Handle(ByteSpan frame) {
  if (frame.empty()) return {};
  if (frame.size() > 1) return Command(frame);
  switch (frame[0]) {
    case kPowerOff:
    case kPowerOn:
    case kReset:
      engine_.Reset();
      return {};
    case kGetAtr:
      return {engine_.Atr(), false};
    default:
      return {};
  }
}

FrameOutcome VpcdCard::Command(ByteSpan apdu) {
  ++commands_;
  if (faults_.failAfter && commands_ > *faults_.failAfter) {
    faults_.failAfter.reset();  // once: the reconnected card works again
    engine_.Reset();
    return {std::nullopt, true};
  }
  const auto stalled = apdu.size() >= 2 ? faults_.stalls.find(apdu[1]) : faults_.stalls.end();
  const std::chrono::milliseconds stall =
      stalled == faults_.stalls.end() ? std::chrono::milliseconds{} : stalled->second;
  if (faults_.statusWordIns && apdu.size() >= 2 && apdu[1] == *faults_.statusWordIns) {
    return {
        Bytes{static_cast<Byte>(faults_.statusWord >> 8), static_cast<Byte>(faults_.statusWord)},
        false, stall};
  }
  Bytes answer = engine_.Process(apdu);
  if (faults_.truncate && answer.size() > 3) {
    const std::size_t data = answer.size() - 2;
    answer.erase(answer.begin() + static_cast<std::ptrdiff_t>((data + 1) / 2),
                 answer.begin() + static_cast<std::ptrdiff_t>(data));
  }
  const bool drop = faults_.resetEvery > 0 && commands_ % faults_.resetEvery == 0;
  if (drop) engine_.Reset();
  return {std::move(answer), drop, stall};
}

}  // namespace kasse::sim
