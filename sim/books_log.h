#pragma once
// The card's books as an append-only log (FILE.log): each change is one record (framing in
// log_frames.h), appended and made durable with one fdatasync before the card answers.
// Records hold absolute values (the counters, the day, and each month they touch), so replaying
// a record that the snapshot already holds changes nothing. Every write goes through the
// file-I/O seam.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_io.h"
#include "common/result.h"
#include "sim/card_files.h"
#include "sim/log_frames.h"
#include "sim/notice.h"

namespace kasse::sim {

// The log never grows past this: an append that would is refused (the card answers 65 81),
// so the log always stays readable. Past half of it the card warns.
inline constexpr std::uint64_t kMaxLogSize = std::uint64_t{1} << 31;

struct LogAccess {
  FileIo* io = nullptr;  // never null
  NoticeSink notice;
  // Tests only: damage is cut off at the first frame that does not read, without a word, as
  // the card did before it refused damage. Shows that a test catches a card rolled back.
  bool silentRepair = false;
  std::uint64_t limit = kMaxLogSize;  // tests may set a smaller one; the warning comes at half
};

// The log as found at start, before anything is changed.
struct LogReading {
  bool exists = false;
  std::uint64_t size = 0;
  LogContents contents;
};

class BooksLog {
 public:
  // Reads the log without changing it. Damage (anything but a torn last record) is an error
  // naming the file, the byte offset and what to do (CardRefusal); with `silentRepair` only a
  // damaged header is.
  static Result<LogReading> Read(const CardPaths& paths, bool silentRepair);
  // Opens the log read before for appending: creates it (0600) when missing, and cuts off a
  // torn last record (a crash during its append: it was never answered), or with silent repair
  // whatever follows the first frame that does not read.
  static Result<BooksLog> Open(const CardPaths& paths, const LogReading& reading, LogAccess access);
  BooksLog(BooksLog&& other) noexcept;
  BooksLog& operator=(BooksLog&& other) noexcept;
  BooksLog(const BooksLog&) = delete;
  BooksLog& operator=(const BooksLog&) = delete;
  ~BooksLog();

  // Durable on success. On failure the log is cut back to its last good record, so it never
  // holds torn bytes before later records; if even that fails the log refuses every append.
  Result<void> Append(std::string_view payload);
  // Empties the log once a snapshot holds everything in it; a log of the older format starts
  // again in the current one.
  Result<void> Restart();
  std::size_t Records() const { return records_; }
  std::uint64_t Size() const { return goodSize_; }

 private:
  BooksLog(std::filesystem::path path, int fd, LogAccess access);
  Result<void> CutBack(const Error& cause);
  void WarnOfSize() const;

  std::filesystem::path path_;
  int fd_ = -1;
  LogAccess access_;
  int format_ = 2;
  std::uint64_t goodSize_ = 0;
  std::size_t records_ = 0;
  bool broken_ = false;
  bool warned_ = false;
};

}  // namespace kasse::sim
