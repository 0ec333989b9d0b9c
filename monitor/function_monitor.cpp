#include "monitor/function_monitor.h"

#include "common/files.h"

namespace kasse {
namespace {

// Rich text from cp1252 lines: the control characters of the format escaped, bytes above 0x7F
// written as \'hh so that the file keeps its code page.
std::string ToRichText(const std::string& text) {
  std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fmodern Courier New;}}\\f0\\fs18 ";
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n') {
      rtf += "\\par\n";
    } else if (c == '\t') {
      rtf += "\\tab ";
    } else if (c == '\\' || c == '{' || c == '}') {
      rtf += '\\';
      rtf += static_cast<char>(c);
    } else if (c >= 0x80) {
      rtf += "\\'";
      rtf += kHex[c >> 4];
      rtf += kHex[c & 0x0F];
    } else {
      rtf += static_cast<char>(c);
    }
  }
  rtf += "}\n";
  return rtf;
}

}  // namespace

void FunctionMonitor::MonitorWriteLine(std::string_view text) {
  if (!log_.empty()) log_ += "\r\n";
  log_ += text;
  if (log_.size() > kMaxLength) TrimOldest();
  ++revision_;
}

void FunctionMonitor::MonitorWrite(std::string_view text) {
  log_ += text;
  if (log_.size() > kMaxLength) TrimOldest();
  ++revision_;
}

void FunctionMonitor::TrimOldest() {
  // Whole lines go; a single line longer than half the bound loses its beginning.
  const std::size_t keepFrom = log_.size() - kMaxLength / 2;
  const std::size_t lineEnd = log_.find("\r\n", keepFrom);
  const std::size_t cut = lineEnd == std::string::npos ? keepFrom : lineEnd + 2;
  log_.erase(0, cut);
}

void FunctionMonitor::Clear() {
  log_.clear();
  ++revision_;
}

Result<void> FunctionMonitor::Save(const std::filesystem::path& path) const {
  return WriteFileAtomic(path, ToRichText(log_));
}

}  // namespace kasse
