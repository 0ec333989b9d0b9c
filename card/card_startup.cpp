// The session's events and timers: insertion debounce, removal, the start-up check and the
// card-error watchdog.

#include "card/card_session.h"

namespace kasse {

void CardSession::pcsc2CardInserted(bool fromReader) {
  // Every new watcher first reports the card it finds as inserted. A card this session is
  // connected to is no news; rescanning for it would start a new watcher, and so on for ever
  // whenever that report comes later than the debounce.
  if (fromReader && connector_.Connected()) return;
  if (debounceDeadline_) return;
  debounceDeadline_ = now_() + kDebounce;
  if (fromReader) {
    Log("Karte gesteckt", kMonitorDarkRed);
    (void)StartCard();
  }
}

void CardSession::pcsc2CardRemoved() {
  Log("Karte gezogen", kMonitorDarkRed);
  if (host_ != nullptr) CardRemovedMessage();
}

void CardSession::CardStoppedAnswering() {
  if (host_ != nullptr) CardRemovedMessage();
}

void CardSession::prellTimerTimer() {
  debounceDeadline_.reset();
  if (host_ != nullptr) CardPresentMessage();
}

void CardSession::Startup() {
  cardReady_ = false;
  if (StartCard()) {
    watchdogDeadline_ = now_() + kWatchdog;
  } else {
    TimerCardErrTimer(false);
  }
}

void CardSession::CardPresentMessage() {
  if (cardReady_) return;
  cardReady_ = true;
  TimerCardErrTimer(false);
}

void CardSession::CardRemovedMessage() {
  if (host_ != nullptr && !host_->CardErrorVisible()) host_->ShowCardError();
}

void CardSession::TimerCardErrTimer(bool fromTimer) {
  watchdogDeadline_.reset();
  auto fail = [this] {
    cardReady_ = false;
    if (host_ != nullptr) host_->ShowCardError();
  };
  if (!fromTimer) {
    cardReady_ = true;
  } else if (!StartCard()) {
    fail();
  } else if (SelectApplication()) {
    cardReady_ = true;
  } else {
    fail();
  }
  if (cardReady_) {
    if (!ReadCardStatus()) fail();
    CheckQORversion();
  }
  if (!cardReady_) return;
  if (host_ != nullptr) host_->ResetJournalState();
  if (state_.lifeCycleCode == "02" && host_ != nullptr) host_->RequestTransportPin();
  LoadCertificate();
  if (host_ != nullptr) host_->CardCheckPassed(state_);
}

std::optional<Error> CardSession::FailureCause() const {
  const CardFault fault = connector_.LastFault();
  if (fault == CardFault::kNone) return std::nullopt;
  return FaultError(fault, connector_.LastFailureCode());
}

std::optional<CardSession::Clock::time_point> CardSession::NextDeadline() const {
  if (debounceDeadline_ && watchdogDeadline_)
    return std::min(*debounceDeadline_, *watchdogDeadline_);
  return debounceDeadline_ ? debounceDeadline_ : watchdogDeadline_;
}

void CardSession::RunDueTimers() {
  const Clock::time_point now = now_();
  if (debounceDeadline_ && *debounceDeadline_ <= now) prellTimerTimer();
  if (watchdogDeadline_ && *watchdogDeadline_ <= now) TimerCardErrTimer(true);
}

}  // namespace kasse
