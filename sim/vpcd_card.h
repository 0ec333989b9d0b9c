#pragma once
// The card side of the vpcd protocol, without the socket: each frame from the reader driver
// (a 1-byte control code or a command APDU) gives what to send back, with the fault
// injection that the reliability tests ask for.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>

#include "common/bytes.h"
#include "sim/qor_engine.h"

namespace kasse::sim {

struct Faults {
  std::optional<std::uint64_t> failAfter;  // drop the connection instead of answering command N+1
  std::optional<Byte> statusWordIns;       // answer this instruction with `statusWord` alone
  std::uint16_t statusWord = 0x6F00;
  bool truncate = false;         // answers lose the second half of their data
  std::uint64_t resetEvery = 0;  // drop the connection after every N-th answer
  // Instructions whose answer waits this long after the card has done the work, the way a
  // stalled reader holds back an answer the card has already given.
  std::map<Byte, std::chrono::milliseconds> stalls;
};

struct FrameOutcome {
  std::optional<Bytes> reply;
  bool dropConnection = false;        // after sending the reply, if any
  std::chrono::milliseconds stall{};  // to wait before sending the reply
};

class VpcdCard {
 public:
  VpcdCard(QorEngine& engine, Faults faults) : engine_(engine), faults_(faults) {}

  FrameOutcome Handle(ByteSpan frame);
  std::uint64_t CommandCount() const { return commands_; }

 private:
  FrameOutcome Command(ByteSpan apdu);

  QorEngine& engine_;
  Faults faults_;
  std::uint64_t commands_ = 0;
};

}  // namespace kasse::sim
