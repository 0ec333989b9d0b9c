#pragma once
// The card's books as an append-only log (FILE.log): each change is one record, framed by its
// length and a checksum, appended and made durable with one fdatasync before the card answers.
// Records hold absolute values (the counters, the day, and each month they touch), so replaying
// a record that the snapshot already holds changes nothing.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace kasse::sim {

// Faults a test injects into the next append.
enum class AppendFault { kNone, kShortWrite, kSyncFails };
using AppendFaultHook = std::function<AppendFault()>;

class BooksLog {
 public:
  // Opens (or creates, 0600) the log and returns its records. A torn last record (a crash
  // during its append: it was never answered) fails its checksum and is cut off the file.
  static Result<BooksLog> Open(const std::filesystem::path& path, std::vector<std::string>& records,
                               AppendFaultHook fault = {});
  BooksLog(BooksLog&& other) noexcept;
  BooksLog& operator=(BooksLog&& other) noexcept;
  BooksLog(const BooksLog&) = delete;
  BooksLog& operator=(const BooksLog&) = delete;
  ~BooksLog();

  // Durable on success. On failure the log is cut back to its last good record, so it never
  // holds torn bytes before later records; if even that fails the log refuses every append.
  Result<void> Append(std::string_view payload);
  // Empties the log once a snapshot holds everything in it.
  Result<void> Restart();
  std::size_t Records() const { return records_; }

 private:
  BooksLog(std::filesystem::path path, int fd, std::uint64_t size, AppendFaultHook fault);
  Result<void> CutBack(const Error& cause);

  std::filesystem::path path_;
  int fd_ = -1;
  std::uint64_t goodSize_ = 0;
  std::size_t records_ = 0;
  bool broken_ = false;
  AppendFaultHook fault_;
};

// The record framing, for tests: 4-byte length (little-endian), 8-byte checksum, payload.
std::string FrameRecord(std::string_view payload);

}  // namespace kasse::sim
