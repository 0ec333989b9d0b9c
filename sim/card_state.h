#pragma once
// Everything the card keeps between power cycles, and its text form in the state file.

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
};

// Agency, delivery-note and training totals: an amount and how many transactions made it.
struct CountTotal {
  std::int64_t turnover = 0;
  std::uint32_t count = 0;
  bool overflow = false;
};

struct Totals {
  std::array<ContainerTotal, 6> vat;
  CountTotal agency;
  CountTotal delivery;
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
  CardKeys keys;
};

std::string SerializeState(const CardState& state);
Result<CardState> ParseState(const std::string& text);

// Adds amount to a total, wrapping past kTotalLimit (and marking the overflow).
void AddToTotal(std::int64_t& total, std::int64_t amount, bool& overflow);

}  // namespace kasse::sim
