#include "card/card_monitor.h"

namespace kasse {

void CardMonitorLog::AddLine(std::string_view text, MonitorColour colour) {
  if (!logging_) return;
  if (TextLength() > kTrimThreshold) {
    for (int i = 0; i < kTrimLines && !lines_.empty(); ++i) {
      characters_ -= lines_.front().text.size();
      lines_.pop_front();
    }
  }
  MonitorLine line{text.empty() ? std::string(" ") : std::string(text), colour};
  characters_ += line.text.size();
  lines_.push_back(std::move(line));
  ++revision_;
}

void CardMonitorLog::Clear() {
  lines_.clear();
  characters_ = 0;
  ++revision_;
}

int CardMonitorLog::ShowMonitor(int logging, int visible) {
  logging_ = logging != 0;
  visible_ = visible != 0;
  ++revision_;
  return 0;
}

void CardMonitorLog::WindowClosed() {
  visible_ = false;
  logging_ = false;
  ++revision_;
}

std::size_t CardMonitorLog::TextLength() const {
  return lines_.empty() ? 0 : characters_ + lines_.size() - 1;
}

std::string CardMonitorLog::Text() const {
  std::string text;
  text.reserve(TextLength());
  for (const MonitorLine& line : lines_) {
    if (!text.empty()) text.push_back('\n');
    text += line.text;
  }
  return text;
}

}  // namespace kasse
