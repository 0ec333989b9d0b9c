#pragma once
// The function monitor log: what the encoders produce, line by line. The window only shows it.
// Appending is amortised O(1); the log is one cp1252 text with CR LF between lines.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse {

class FunctionMonitor {
 public:
  // Past this many characters the oldest lines go, down to about half of it, so that a long
  // mass run cannot fill the memory with a log nobody reads back that far.
  static constexpr std::size_t kMaxLength = std::size_t{8} << 20;

  // A new last line; on an empty log the text becomes the whole log (no empty first line).
  void MonitorWriteLine(std::string_view text);
  // Continues the current last line.
  void MonitorWrite(std::string_view text);
  void Clear();

  const std::string& Text() const { return log_; }
  // Counts every change, so a view can tell whether it must refresh.
  std::size_t Revision() const { return revision_; }

  // Saves the log as a rich-text file, as the monitor window's "Speichern" does.
  Result<void> Save(const std::filesystem::path& path) const;

 private:
  void TrimOldest();

  std::string log_;
  std::size_t revision_ = 0;
};

}  // namespace kasse
