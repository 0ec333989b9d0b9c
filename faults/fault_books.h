#pragma once
// What the fault runs check beyond the journal audit: across every run on one register home,
// the card's sequence numbers never repeat, every number the journals lack matches a request
// that got no answer, and the card's day totals (an unsigned daily closing) equal the answered
// transactions plus exactly that many of the unanswered ones (which the card may have signed
// before it was killed). Amounts come from the requests in the S files, which are written
// before the card sees them; training sales are left out, the card books them apart.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kasse {

// Cents per container element name (containerVat1, containerThirdparty ...): turnover and
// turnoverNeg.
using ContainerSums = std::map<std::string, std::pair<std::int64_t, std::int64_t>>;

struct FaultBooks {
  std::vector<std::uint64_t> answered;       // sequence numbers in journal order (S files)
  std::size_t unansweredRequests = 0;        // S records with a request and no answer
  ContainerSums answeredSums;                // the requests the card answered (S files)
  std::vector<ContainerSums> unanswered;     // the requests without an answer
  std::optional<ContainerSums> closing;      // the last report of the L files
  std::optional<std::uint64_t> closingLast;  // its seqNoTransactionLast
  std::vector<std::string> problems;         // undecodable answers
};

// Reads one journal pair; call in name order for the pairs of one home.
void ReadFaultBooks(std::string_view sText, std::string_view lText, FaultBooks& books);

// Every violation, one text each; none when the books agree.
std::vector<std::string> CheckFaultBooks(const FaultBooks& books);

}  // namespace kasse
