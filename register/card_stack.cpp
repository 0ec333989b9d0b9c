#include "register/card_stack.h"

#include <utility>

#include "card/pcsc_lite.h"
#include "common/user_folders.h"
#include "simreader/embedded_pcsc.h"

namespace kasse {

std::filesystem::path SimStateFile(const CardOptions& options) {
  return options.stateFile.empty() ? DefaultCardStateFile(options.simVersion) : options.stateFile;
}

CardStack::CardStack(const std::filesystem::path& home, const CardOptions& options) {
  if (options.simulated) {
    sim::EngineOptions engine;
    engine.versionLevel = options.simVersion;
    engine.startLifecycle = options.simLifecycle;
    engine.transportPin = options.simPin;
    engine.io = options.simIo;
    if (options.simSnapshotEvery > 0) engine.snapshotEvery = options.simSnapshotEvery;
    engine.testSilentLogRepair = options.simSilentLogRepair;
    engine.onNotice = [this](const std::string& text) {
      const std::lock_guard<std::mutex> lock(noticesMutex_);
      notices_.push_back(text);
    };
    // The engine makes the card's folder; what fails shows as the card's start error.
    if (!home.empty() || !options.stateFile.empty()) engine.stateFile = SimStateFile(options);
    simReader_ = std::make_unique<sim::EmbeddedReader>(std::move(engine));
    simSlot_ = std::make_unique<SimReaderSlot>(*simReader_, options.simBeforeTransmit);
    auto embedded = std::make_unique<EmbeddedPcscApi>();
    embedded->AddReader("QOR Sim Reader 0", *simSlot_);
    api_ = std::move(embedded);
  } else {
    api_ = std::make_unique<PcscLiteApi>();
  }
  connector_ = std::make_unique<TPCSCConnector>(*api_);
  exchange_ = std::make_unique<CardExchange>(*connector_, log_);
  session_ = std::make_unique<CardSession>(*exchange_);
  link_ = std::make_unique<ExchangeLink>(*exchange_);
  hasher_ = std::make_unique<SessionHasher>(*session_);
}

std::vector<std::string> CardStack::TakeCardNotices() {
  const std::lock_guard<std::mutex> lock(noticesMutex_);
  return std::exchange(notices_, {});
}

std::string CardStack::SimStartError() const {
  if (!simReader_) return {};
  const auto error = simReader_->StartError();
  return error ? error->message : std::string();
}

bool CardStack::FinishLateAnswer(std::chrono::milliseconds limit) {
  return connector_ == nullptr || connector_->FinishLateTransmit(limit);
}

CardStack::~CardStack() {
  // A transmit that never ends cannot be joined: the card access is left to the process's end
  // rather than freed under the thread that still uses it.
  if (!FinishLateAnswer(std::chrono::milliseconds(0))) {
    session_.reset();
    exchange_.reset();
    (void)connector_.release();
    (void)api_.release();
    (void)simSlot_.release();
    (void)simReader_.release();
    return;
  }
  // The watcher thread waits on the reader: it must end before the reader goes.
  session_.reset();
  exchange_.reset();
  connector_.reset();
}

}  // namespace kasse
