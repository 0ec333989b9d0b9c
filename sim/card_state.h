#pragma once
// Everything the card keeps between power cycles, and its text forms: the snapshot (FILE) and
// the change records of the log (FILE.log). Keys live in files of their own.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "common/bytes.h"
#include "common/result.h"
#include "sim/card_crypto.h"

namespace kasse::sim {

// Totals are kept in cents; past this a container wraps and reports an overflow.
inline constexpr std::int64_t kTotalLimit = 99'999'999'999;

struct ContainerTotal {
  std::int64_t turnover = 0;
  std::int64_t turnoverNeg = 0;
  Bytes rate;  // packed rate as booked last
  bool used = false;
  bool overflow = false;
  bool vatChange = false;
  bool operator==(const ContainerTotal&) const = default;
};

// Agency, delivery-note and training totals: an amount and how many transactions made it.
struct CountTotal {
  std::int64_t turnover = 0;
  std::uint32_t count = 0;
  bool overflow = false;
  bool operator==(const CountTotal&) const = default;
};

struct Totals {
  std::array<ContainerTotal, 6> vat;
  CountTotal agency;
  CountTotal delivery;
  bool operator==(const Totals&) const = default;
};

struct CardState {
  Byte lifecycle = 0x03;
  std::string tpId = "QOR-SIM";
  std::uint32_t tpIdNo = 1;
  std::string transportPin = "123456";
  int pinTriesLeft = 3;
  std::uint32_t transactionSeq = 0;  // the last number given
  std::uint32_t reportSeq = 0;
  int firstMonth = 0;             // yyyymm, 0 before the first booking
  std::uint32_t dayFirstSeq = 0;  // 0: no transaction since the last signed closing
  std::uint32_t dayLastSeq = 0;
  Totals day;
  CountTotal training;
  std::map<int, Totals> months;  // yyyymm
  bool operator==(const CardState&) const = default;
};

// A snapshot file as read: the books and, from a file of the older format that also held the
// keys, those keys.
struct StateFile {
  int format = 3;  // 1: keys inside, 2: no checksum line, 3: the current format
  CardState books;
  std::optional<CardKeys> oldFormatKeys;
};

// The current format ends in a checksum line over everything before it; formats 1 and 2 (no
// checksum) are still read. Errors carry the byte offset of the line that fails.
std::string SerializeState(const CardState& state);
Result<StateFile> ParseState(const std::string& text);

// One log record: every counter, the day, the training total and the months that differ from
// `before`, all as absolute values.
std::string SerializeChange(const CardState& before, const CardState& after);
Result<void> ApplyChange(const std::string& record, CardState& state);

// Adds amount to a total, wrapping past kTotalLimit (and marking the overflow).
void AddToTotal(std::int64_t& total, std::int64_t amount, bool& overflow);

}  // namespace kasse::sim
