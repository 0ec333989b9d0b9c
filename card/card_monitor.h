#pragma once
// The card monitor's log: every card command with its answer and duration, and the coloured
// headings of the card operations. The window (ui/) only shows it. Lines are cp1252 texts.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace kasse {

// Colours as the toolkit stores them: 0x00BBGGRR.
using MonitorColour = std::uint32_t;
inline constexpr MonitorColour kMonitorBlue = 0x00FF0000;     // headings of operations
inline constexpr MonitorColour kMonitorDarkRed = 0x00000080;  // information
inline constexpr MonitorColour kMonitorRed = 0x000000FF;      // failures of the reader scan
inline constexpr MonitorColour kMonitorBlack = 0x00000000;    // results of the exchange
// Not a colour value: the font colour of the log, for command lines.
inline constexpr MonitorColour kMonitorWindowText = 0xFF000000;

struct MonitorLine {
  std::string text;
  MonitorColour colour = kMonitorWindowText;
};

class CardMonitorLog {
 public:
  // Once the log holds more characters than this, the eleven oldest lines go before the next
  // line is added.
  static constexpr std::size_t kTrimThreshold = 32000;
  static constexpr int kTrimLines = 11;

  // Nothing is logged while the logging flag is off.
  void AddLine(std::string_view text, MonitorColour colour = kMonitorWindowText);
  void Clear();

  // Kept in the card-access module's flat published form: each argument non-zero means true.
  int ShowMonitor(int logging, int visible);
  void SetLogging(bool logging) { logging_ = logging; }
  bool Logging() const { return logging_; }
  bool Visible() const { return visible_; }
  // Closing the window ends logging, as the window's close does.
  void WindowClosed();

  const std::deque<MonitorLine>& Lines() const { return lines_; }
  // The length of the whole text: the lines with one line break between them.
  std::size_t TextLength() const;
  std::string Text() const;
  // Counts every change, so a view can tell whether it must refresh.
  std::size_t Revision() const { return revision_; }

 private:
  std::deque<MonitorLine> lines_;
  std::size_t characters_ = 0;
  std::size_t revision_ = 0;
  bool logging_ = false;
  bool visible_ = false;
};

}  // namespace kasse
