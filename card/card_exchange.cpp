#include "card/card_exchange.h"

#include <thread>

#include "card/pin_mask.h"
#include "common/hex_text.h"

namespace kasse {

CardExchange::CardExchange(TPCSCConnector& connector, CardMonitorLog& monitor)
    : connector_(connector), monitor_(monitor) {
  connector_.OnLateAnswer = [this](const Bytes& answer) { LateAnswer(answer); };
}

CardExchange::~CardExchange() {
  connector_.OnLateAnswer = nullptr;
}

void CardExchange::AwaitLateAnswer(LateAnswerHandler handler) {
  if (lateAnswer_ && handler) {
    handler(*lateAnswer_);
    lateAnswer_.reset();
    return;
  }
  lateHandler_ = std::move(handler);
}

void CardExchange::LateAnswer(const Bytes& answer) {
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(now_() - lateStart_).count();
  monitor_.AddLine("Sp\xE4te Antwort der Karte", kMonitorDarkRed);
  const std::string written = HexWritten(answer);
  if (!answer.empty())
    monitor_.AddLine("Result;   " + written + "  <" + std::to_string(waited) + " ms>",
                     kMonitorBlack);
  if (lateHandler_) {
    LateAnswerHandler handler = std::move(lateHandler_);
    lateHandler_ = nullptr;
    handler(written);
  } else {
    lateAnswer_ = written;
  }
}

void CardExchange::ExchangeApdu(std::string_view tag, std::string_view command,
                                std::string& response, MonitorColour colour,
                                CardMonitorLog& monitor) {
  response.clear();
  std::string line(tag);
  line += ';';
  line += MaskPinInCommand(command);
  monitor.AddLine(line);
  const Bytes bytes = HexParse(command);
  const Clock::time_point start = now_();
  Bytes answer;
  const TransmitOutcome outcome = connector_.TransmitWithin(bytes, patience_, pump_, answer);
  lastUnanswered_ = outcome == TransmitOutcome::kUnanswered;
  if (outcome == TransmitOutcome::kBusy) {
    monitor.AddLine("Karte noch belegt: Befehl nicht gesendet", kMonitorRed);
    return;
  }
  if (lastUnanswered_) {
    stoppedAnswering_ = true;
    lateStart_ = start;
    lateHandler_ = nullptr;
    lateAnswer_.reset();
    monitor.AddLine("Keine Antwort der Karte nach " + std::to_string(patience_.count()) + " ms",
                    kMonitorRed);
    if (OnUnanswered) OnUnanswered();
    return;
  }
  const auto duration =
      std::chrono::duration_cast<std::chrono::milliseconds>(now_() - start).count();
  if (answer.empty()) return;
  response = tag == kApduTag ? HexWritten(answer) : std::string(answer.begin(), answer.end());
  monitor.AddLine("Result;   " + response + "  <" + std::to_string(duration) + " ms>", colour);
}

bool CardExchange::SendCommand(std::string_view command, std::string& data) {
  std::this_thread::yield();
  std::string response;
  ExchangeApdu(kApduTag, command, response, kMonitorBlack, monitor_);
  data = response;
  lastStatusWord_.clear();
  if (response.size() < 5) return false;
  const std::string statusWord = response.substr(response.size() - 5);
  lastStatusWord_ = statusWord.substr(0, 2) + statusWord.substr(3, 2);
  data = response.size() > 6 ? response.substr(0, response.size() - 6) : std::string();
  return statusWord == "90 00";
}

int CardExchange::CardApdu(const char* command, const char** response) {
  static constexpr const char* kEmpty = "";
  if (response != nullptr) *response = kEmpty;
  if (command == nullptr) return -1;
  std::string data;
  if (!SendCommand(command, data)) return -1;
  keptResponse_ = std::move(data);
  if (response != nullptr) *response = keptResponse_.c_str();
  return 0;
}

bool CardExchange::SendHex(std::string_view command, std::string& data) {
  const char* response = nullptr;
  const std::string text(command);
  const bool ok = CardApdu(text.c_str(), &response) == 0;
  data = ok ? response : "";
  return ok;
}

int CardExchange::MonitorLabel(const char* text, MonitorColour colour) {
  monitor_.AddLine(text != nullptr ? text : "", colour);
  return 0;
}

}  // namespace kasse
