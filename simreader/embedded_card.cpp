#include "simreader/embedded_card.h"

#include <utility>

namespace kasse {
namespace {

sim::EngineOptions Noticing(sim::EngineOptions engine, sim::NoticeSink sink) {
  engine.onNotice = std::move(sink);
  return engine;
}

}  // namespace

EmbeddedCard::EmbeddedCard(sim::EngineOptions engine, SimReaderSlot::BeforeTransmit beforeTransmit)
    : reader_(std::make_unique<sim::EmbeddedReader>(
          Noticing(std::move(engine),
                   [this](const std::string& text) {
                     const std::lock_guard<std::mutex> lock(noticesMutex_);
                     notices_.push_back(text);
                   }))),
      slot_(*reader_, std::move(beforeTransmit)) {
  api_.AddReader(kReaderName, slot_);
}

std::optional<Error> EmbeddedCard::StartError() const {
  return reader_->StartError();
}

std::vector<std::string> EmbeddedCard::TakeNotices() {
  const std::lock_guard<std::mutex> lock(noticesMutex_);
  return std::exchange(notices_, {});
}

}  // namespace kasse
