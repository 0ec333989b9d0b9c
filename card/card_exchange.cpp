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
    handler(SplitAnswer(*lateAnswer_));
    lateAnswer_.reset();
    return;
  }
  lateHandler_ = std::move(handler);
}

void CardExchange::LateAnswer(const Bytes& answer) {
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(now_() - lateStart_).count();
  monitor_.AddLine("Sp\xE4te Antwort der Karte", kMonitorDarkRed);
  if (!answer.empty())
    monitor_.AddLine("Result;   " + HexWritten(answer) + "  <" + std::to_string(waited) + " ms>",
                     kMonitorBlack);
  if (lateHandler_) {
    LateAnswerHandler handler = std::move(lateHandler_);
    lateHandler_ = nullptr;
    handler(SplitAnswer(answer));
  } else {
    lateAnswer_ = answer;
  }
}

Result<CardAnswer> CardExchange::Send(ByteSpan command) {
  std::this_thread::yield();
  std::string line(kApduTag);
  line += ';';
  line += CommandTextWithoutPin(command);
  monitor_.AddLine(line);
  lastUnanswered_ = false;
  if (connector_.TransmitRunning()) {
    monitor_.AddLine("Karte noch belegt: Befehl nicht gesendet", kMonitorRed);
    return MakeError(ErrorKind::kBusy, "an earlier card command still runs");
  }
  const Clock::time_point start = now_();
  Result<Bytes> answer = connector_.TransmitWithin(command, patience_, pump_);
  // Nothing else runs on the card, so a busy card is this command outlasting the patience.
  lastUnanswered_ = !answer && answer.error().kind == ErrorKind::kBusy;
  if (lastUnanswered_) {
    stoppedAnswering_ = true;
    lateStart_ = start;
    lateHandler_ = nullptr;
    lateAnswer_.reset();
    monitor_.AddLine("Keine Antwort der Karte nach " + std::to_string(patience_.count()) + " ms",
                     kMonitorRed);
    if (OnUnanswered) OnUnanswered();
    return answer.error();
  }
  if (!answer) return answer.error();
  const auto duration =
      std::chrono::duration_cast<std::chrono::milliseconds>(now_() - start).count();
  if (!answer->empty())
    monitor_.AddLine("Result;   " + HexWritten(*answer) + "  <" + std::to_string(duration) + " ms>",
                     kMonitorBlack);
  std::optional<CardAnswer> split = SplitAnswer(*answer);
  if (!split) return MakeError(ErrorKind::kCard, "the card's answer has no status word");
  return std::move(*split);
}

void CardExchange::MonitorLabel(std::string_view text, MonitorColour colour) {
  monitor_.AddLine(text, colour);
}

}  // namespace kasse
