#pragma once
// The register's own memory of the sequence numbers it journalled, asked before a card's answer
// is journalled as a new sale or report. A card put back from a backup, a card whose books were
// damaged or a card that misbehaves must never get one number into the journal twice, whatever
// the card itself believes.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse {

enum class NumberKind { kTransaction, kReport };

class NumberGuard {
 public:
  virtual ~NumberGuard() = default;
  // An error (kCard) naming the number and when it was journalled, when `number` is not above
  // the last one journalled for the card that answered.
  virtual Result<void> Check(NumberKind kind, std::string_view tpId, std::uint64_t tpIdNo,
                             std::uint64_t number) const = 0;
  // The answer with `number` is journalled; `date` (yyyymmdd) is the record's date.
  virtual void Journalled(NumberKind kind, std::string_view tpId, std::uint64_t tpIdNo,
                          std::uint64_t number, std::string_view date) = 0;
};

}  // namespace kasse
