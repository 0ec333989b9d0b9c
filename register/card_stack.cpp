#include "register/card_stack.h"

#include <utility>

namespace kasse {

CardStack::CardStack(std::unique_ptr<CardBackend> backend) : backend_(std::move(backend)) {
  connector_ = std::make_unique<TPCSCConnector>(backend_->Api());
  exchange_ = std::make_unique<CardExchange>(*connector_, log_);
  session_ = std::make_unique<CardSession>(*exchange_);
  link_ = std::make_unique<ExchangeLink>(*exchange_);
  hasher_ = std::make_unique<SessionHasher>(*session_);
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
    (void)backend_.release();
    return;
  }
  // The watcher thread waits on the reader: it must end before the reader goes.
  session_.reset();
  exchange_.reset();
  connector_.reset();
}

}  // namespace kasse
