#pragma once
// The one road of every card command: the command is logged as the card monitor writes it,
// transmitted through the connector, timed, and its answer logged and split into data and
// status word. Only the status word 90 00 counts as accepted.
// A command the card does not answer within the patience limit counts as unanswered: the
// exchange fails, OnUnanswered runs, and should the answer still come, it is logged and handed
// to whoever asked for it (AwaitLateAnswer), so that a late signature is not lost.
// Thread use: the owner's thread; the transmit itself runs on the connector's transmit thread.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "card/card_monitor.h"
#include "card/pcsc_connector.h"
#include "common/card_commands.h"

namespace kasse {

class CardExchange {
 public:
  using Clock = std::chrono::steady_clock;
  // The late answer, or nothing when the late transmit failed or brought no status word.
  using LateAnswerHandler = std::function<void(const std::optional<CardAnswer>& answer)>;
  static constexpr std::string_view kApduTag = "Card,APDU";
  // A real card answers in 70 to 320 ms; a reader that stalls may keep a command a minute.
  static constexpr std::chrono::milliseconds kDefaultPatience{10000};

  CardExchange(TPCSCConnector& connector, CardMonitorLog& monitor);
  ~CardExchange();
  CardExchange(const CardExchange&) = delete;
  CardExchange& operator=(const CardExchange&) = delete;

  void SetPatience(std::chrono::milliseconds patience) { patience_ = patience; }
  std::chrono::milliseconds Patience() const { return patience_; }
  // Run every few milliseconds while a command waits for its answer: a window keeps its event
  // loop going through it. Without one the exchange just waits.
  void SetWaitPump(std::function<void()> pump) { pump_ = std::move(pump); }
  // Raised once for every command that went unanswered, after it was logged.
  std::function<void()> OnUnanswered;
  // Whether the last command went unanswered, and whether any ever did.
  bool LastUnanswered() const { return lastUnanswered_; }
  bool CardStoppedAnswering() const { return stoppedAnswering_; }
  // Right after an unanswered command: where its answer goes should it still come.
  void AwaitLateAnswer(LateAnswerHandler handler);

  // Durations come from this clock; tests may set their own.
  void SetClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

  // The logged exchange of one command: the card's answer with its status word, or an error
  // when none came: kBusy when this command outlasted the patience (LastUnanswered) or an
  // earlier one still runs (this one is then not sent); kCard saying what PC/SC reported.
  Result<CardAnswer> Send(ByteSpan command);
  void MonitorLabel(std::string_view text, MonitorColour colour);

  TPCSCConnector& Connector() { return connector_; }
  CardMonitorLog& Monitor() { return monitor_; }

 private:
  TPCSCConnector& connector_;
  CardMonitorLog& monitor_;
  void LateAnswer(const Bytes& answer);

  std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
  std::chrono::milliseconds patience_ = kDefaultPatience;
  std::function<void()> pump_;
  bool lastUnanswered_ = false;
  bool stoppedAnswering_ = false;
  Clock::time_point lateStart_;
  LateAnswerHandler lateHandler_;
  // A late answer that came before anyone asked for it, whole (empty: the transmit failed).
  std::optional<Bytes> lateAnswer_;
};

}  // namespace kasse
