#pragma once
// The history of each card's sequence numbers, ordered by what the journals say rather than by
// their names: a pair is named by the system date its run started, and a clock set back or a
// time-zone change names a later run earlier. Each pair's numbers of one card and kind
// (transactions, reports) form a segment in file order; segments are put in the order of their
// first number (a segment without one stays behind the pair that precedes it by name; two that
// start alike keep name order: the date, then the pair's number within that day, which the
// register always takes ascending). Then every number is accounted for: a repeat or a gap is a
// finding naming both places, a late answer fills its gap and answers its request. A record
// found twice byte for byte in two pairs (a record rescued into a new pair whose first pair had
// it already) is one record. An answer the register refused (a number it had journalled) is
// evidence, not the number's record: it is named with the place of the record that counts.
// Memory: a few bytes for each numbered record, to name its place and tell a copy from a repeat.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace kasse {

struct RecordPlace {
  std::size_t pair = 0;    // index of the pair in name order
  std::size_t offset = 0;  // byte offset in its S file
  std::size_t record = 0;  // 1-based record number in its S file
};

// One answered record of a run: where it stands, what tells it from another record with the
// same number, and whether its signature was counted.
struct NumberedRecord {
  std::uint64_t digest = 0;  // AuditedRecord::print
  std::size_t offset = 0;
  std::uint32_t record = 0;
  bool counted = false;  // among its pair's valid signatures
};

struct SequenceEvent {
  enum class Kind {
    kAnswered,    // a run of consecutive numbers [first, last], in file order
    kLate,        // a late answer (first == last) to an earlier request
    kUnanswered,  // a request the card may have numbered
    kRejected,    // an answer (first == last) the register refused: the number was journalled
  };
  Kind kind = Kind::kAnswered;
  std::uint64_t first = 0, last = 0;
  RecordPlace place, lastPlace;
  Bytes request;            // kLate and kUnanswered: to pair them
  std::size_t finding = 0;  // kUnanswered: the finding a later answer withdraws
  bool numbered = true;     // kLate: false for an unsigned closing, which takes no number
  bool cut = false;         // kUnanswered: the last record of its S file, cut off
  std::vector<NumberedRecord> records;  // kAnswered: one for each number, first to last
};

// What one pair holds of one card's numbers of one kind.
struct SequenceSegment {
  std::string card;  // "tpId tpIdNo"
  bool transaction = true;
  std::size_t pair = 0;
  std::vector<SequenceEvent> events;
  // The request of the first answered record: a record rescued into a new pair answers the
  // request its first pair kept without an answer.
  Bytes firstRequest;
  // Adds a number answered in order, joining the run before it when it follows on.
  void Answered(std::uint64_t number, const RecordPlace& place, std::uint64_t digest, bool counted,
                const Bytes& request);
};

struct HistoryFinding {
  RecordPlace place;
  std::string text;
};

// A record found again, byte for byte, in another pair: counted once.
struct DuplicateRecord {
  std::size_t pair = 0;  // where the copy that is not counted stands
  std::string card;
  bool transaction = true;
  bool counted = false;  // that copy's signature was counted in its pair
};

struct HistoryResult {
  std::vector<HistoryFinding> findings;
  std::vector<std::size_t> answeredLater;  // kUnanswered findings a later answer withdrew
  std::vector<DuplicateRecord> duplicates;
};

// `sNames`: the S file of each pair, to name places.
HistoryResult CheckHistory(std::vector<SequenceSegment> segments,
                           const std::vector<std::string>& sNames);

}  // namespace kasse
