#pragma once
// The one road of every card command: the command as hexadecimal text is logged, parsed
// leniently, transmitted through the connector, timed, and its answer logged and split into
// data and status word. Only the status word 90 00 counts as success.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "card/card_monitor.h"
#include "card/pcsc_connector.h"

namespace kasse {

class CardExchange {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::string_view kApduTag = "Card,APDU";

  CardExchange(TPCSCConnector& connector, CardMonitorLog& monitor);

  // Durations come from this clock; tests may set their own.
  void SetClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

  // The logged exchange; `response` is the answer in written form (status word last), empty
  // when nothing came back.
  void ExchangeApdu(std::string_view tag, std::string_view command, std::string& response,
                    MonitorColour colour, CardMonitorLog& monitor);
  // True exactly when the answer ends in 90 00; `data` is the answer before the status word.
  bool SendCommand(std::string_view command, std::string& data);
  // Flat form: 0 and the data text, or -1 and an empty text. The text is owned here and stays
  // valid until the next call.
  int CardApdu(const char* command, const char** response);
  bool SendHex(std::string_view command, std::string& data);
  // The last answer's status word as four hex digits ("6985"); empty when none came back.
  const std::string& LastStatusWord() const { return lastStatusWord_; }
  int MonitorLabel(const char* text, MonitorColour colour);

  TPCSCConnector& Connector() { return connector_; }
  CardMonitorLog& Monitor() { return monitor_; }

 private:
  TPCSCConnector& connector_;
  CardMonitorLog& monitor_;
  std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
  std::string keptResponse_;
  std::string lastStatusWord_;
};

}  // namespace kasse
