#pragma once
// The record frames of the card's log (FILE.log) and the one reader of a log's bytes.
//
// A log starts with a header line naming its format. Format 2 frames each record as
//   length (4 bytes, little-endian), the length's complement (4 bytes), checksum (8), payload,
// the checksum being the first 8 bytes of SHA-256 over the length bytes and the payload. The
// complement makes a flipped bit in the length damage that is seen as such, never a record that
// seems to run past the end of the file. Format 1 (older logs, still read) has no complement.
//
// What follows the last whole record is either nothing, a torn record or damage:
// - torn: the frame runs past the end of the file with its length intact (format 2: length and
//   complement agree; format 1: no single flipped bit of the length makes a whole record of it),
//   or fewer bytes than a frame header, or only zero bytes (a file system that extended the file
//   before a crash without its data). A torn record was being appended when the card stopped:
//   it was never answered, and it may go.
// - damage: anything else (a checksum that fails, a length and complement that disagree, a
//   length out of range), wherever it is, the last record included.
// Reading is linear in the size of the log.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kasse::sim {

inline constexpr std::string_view kLogHeaderV1 = "qor-sim-log 1\n";
inline constexpr std::string_view kLogHeader = "qor-sim-log 2\n";
static_assert(kLogHeader.size() == kLogHeaderV1.size());
inline constexpr std::size_t kMaxRecordPayload = 1 << 20;

struct LogRecord {
  std::uint64_t offset = 0;  // where its frame starts in the file
  std::string payload;
};

struct LogDamage {
  std::uint64_t offset = 0;
  std::string what;
};

struct LogContents {
  int format = 2;                   // of the header; 2 for a file without one
  bool hasHeader = false;           // false: empty, or a header cut short (a torn creation)
  std::vector<LogRecord> records;   // every whole record before the first that fails
  std::uint64_t goodSize = 0;       // where the last whole record (or the header) ends
  std::optional<LogDamage> damage;  // what fails after goodSize, when it is not a torn tail
  bool Torn(std::uint64_t size) const { return !damage && goodSize < size; }
};

LogContents ReadLog(std::string_view bytes);

// One record framed in format 2.
std::string FrameRecord(std::string_view payload);
// In format 1, for tests of older logs.
std::string FrameRecordV1(std::string_view payload);

}  // namespace kasse::sim
