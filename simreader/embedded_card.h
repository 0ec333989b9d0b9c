#pragma once
// The simulated QOR inside this process as a card backend (`--card sim`): its engine in an
// embedded reader, the reader in the one slot of the in-process PC/SC calls, and the card's
// notices kept until the register takes them.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "card/card_backend.h"
#include "sim/embedded_reader.h"
#include "simreader/embedded_pcsc.h"

namespace kasse {

class EmbeddedCard final : public CardBackend {
 public:
  // The name pcsc-lite would give the reader; the card monitor and the status line show it.
  static constexpr const char* kReaderName = "QOR Sim Reader 0";

  // The card starts inserted. Its notices come here: `engine.onNotice` is replaced.
  explicit EmbeddedCard(sim::EngineOptions engine,
                        SimReaderSlot::BeforeTransmit beforeTransmit = nullptr);
  EmbeddedCard(const EmbeddedCard&) = delete;
  EmbeddedCard& operator=(const EmbeddedCard&) = delete;

  PcscApi& Api() override { return api_; }
  bool InProcess() const override { return true; }
  std::optional<Error> StartError() const override;
  std::vector<std::string> TakeNotices() override;

  // The reader, for tests that take the card out or put it back.
  sim::EmbeddedReader& Reader() { return *reader_; }

 private:
  std::mutex noticesMutex_;
  std::vector<std::string> notices_;
  std::unique_ptr<sim::EmbeddedReader> reader_;
  SimReaderSlot slot_;
  EmbeddedPcscApi api_;
};

}  // namespace kasse
