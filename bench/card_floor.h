#pragma once
// The card's own cost: a minimal client that sends one TRANSACTION command as fast as it can,
// over pcscd and the vpcd reader or to the card in this process, with none of the register's
// work around it. Its rate is the floor the register is measured against.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "card/pcsc_lite.h"
#include "common/bytes.h"
#include "common/card_commands.h"
#include "common/result.h"
#include "sim/embedded_reader.h"

namespace kasse::bench {

// Sends one command APDU, answers with the response APDU (data and status word).
using CardTransport = std::function<Result<Bytes>(ByteSpan command)>;

// SELECT of the QOR application, as the register's card session sends it.
inline Bytes SelectQor() {
  return CommandBytes(cmd::kSelectApplication, cmd::kQorApplication);
}

struct FloorRun {
  int signedCount = 0;  // answers with 90 00, a signature and the next sequence number
  std::uint32_t firstNumber = 0, lastNumber = 0;
  double seconds = 0;
  std::string failure;  // empty when every command was signed
  double Rate() const { return seconds > 0 ? signedCount / seconds : 0; }
};

// Selects the application, then sends `command` `count` times. Stops at the first answer that
// is not a signature with the next sequence number.
FloorRun RunFloor(const CardTransport& card, const Bytes& command, int count);

// The first vpcd reader that holds a card, over pcsc-lite.
class PcscTransport {
 public:
  PcscTransport() = default;
  ~PcscTransport();
  PcscTransport(const PcscTransport&) = delete;
  PcscTransport& operator=(const PcscTransport&) = delete;

  // Waits up to `patience` for a card in a vpcd reader.
  Result<void> Connect(std::chrono::milliseconds patience);
  Result<Bytes> Transmit(ByteSpan command);
  const std::string& Reader() const { return reader_; }

 private:
  Result<void> TryConnect();

  PcscLiteApi api_;
  PcscHandle context_ = 0, card_ = 0;
  std::uint32_t protocol_ = 0;
  std::string reader_;
};

// The simulated card in this process, as `--card sim` holds it, without the connector.
class EmbeddedTransport {
 public:
  explicit EmbeddedTransport(const sim::EngineOptions& options) : reader_(options) {}
  Result<Bytes> Transmit(ByteSpan command) { return reader_.Transmit(command); }

 private:
  sim::EmbeddedReader reader_;
};

}  // namespace kasse::bench
