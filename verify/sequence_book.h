#pragma once
// The sequence numbers an audit has seen, per card and kind (transactions, reports): repeats,
// numbers lower than the one before, and gaps. A late answer, journalled after later records,
// may explain a number inside a gap reported earlier, so gaps stay open until the report is
// made.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kasse {

class SequenceBook {
 public:
  struct Problem {
    std::string text;  // empty: none
    std::optional<std::size_t> gap;
  };
  // A number in journal order. `unanswered`: requests without an answer so far, for the gap's
  // text. A gap gets an id the caller keeps with its finding.
  Problem Record(const std::string& card, bool transaction, std::uint64_t number,
                 std::size_t unanswered);
  // A number answered late: inside an open gap it closes that place; otherwise as Record.
  Problem RecordLate(const std::string& card, bool transaction, std::uint64_t number,
                     std::size_t unanswered);
  // The gap's text now, or nothing when every number of it was explained.
  std::optional<std::string> GapText(std::size_t gap) const;

 private:
  struct Gap {
    std::string card;
    bool transaction = true;
    std::uint64_t number = 0;  // the record after the gap
    std::vector<std::pair<std::uint64_t, std::uint64_t>> missing;
    std::size_t unanswered = 0;
  };
  struct Last {
    std::string card;
    bool transaction = true;
    std::uint64_t number = 0;
  };
  Last* LastOf(const std::string& card, bool transaction);

  std::vector<Last> last_;
  std::vector<Gap> gaps_;
};

}  // namespace kasse
