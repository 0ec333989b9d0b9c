#include "faults/fault_books.h"

#include <algorithm>

#include "common/amount.h"
#include "common/base_n.h"
#include "common/card_tags.h"
#include "common/packed.h"
#include "common/tlv_reader.h"
#include "journal/journal_scan.h"
#include "protocol/card_answers.h"

namespace kasse {
namespace {

// Training sales go to the card's training totals, not to the containers.
constexpr std::string_view kTraining = "containerTraining";

std::int64_t NumberIn(std::string_view body, std::string_view name) {
  const auto text = ChildText(body, name);
  if (!text) return 0;
  const Result<std::int64_t> number = ParseInteger(*text);
  return number ? *number : 0;
}

// The report's containers as the L file names them.
ContainerSums SumsOfReport(std::string_view body) {
  ContainerSums sums;
  for (std::size_t at = body.find("<container"); at != std::string_view::npos;
       at = body.find("<container", at + 1)) {
    const std::size_t close = body.find('>', at);
    if (close == std::string_view::npos) break;
    const std::string name(body.substr(at + 1, close - at - 1));
    const std::size_t stop = body.find("</" + name + ">", close);
    if (stop == std::string_view::npos) break;
    const std::string_view inner = body.substr(close + 1, stop - close - 1);
    auto& [turnover, negative] = sums[name];
    turnover += NumberIn(inner, "turnover");
    negative += NumberIn(inner, "turnoverNeg");
    at = stop;
  }
  return sums;
}

// One container's D8 turnover, D9 turnoverNeg and D6 third-party turnover.
struct ContainerAmounts {
  std::int64_t turnover = 0, negative = 0, thirdParty = 0;
  bool hasThirdParty = false;
};

// Counts what it can: a last element cut short counts with the bytes that are there.
ContainerAmounts AmountsOf(ByteSpan value) {
  ContainerAmounts amounts;
  for (TlvReader reader(value, 0, TlvOverrun::kTakeRest);;) {
    auto element = reader.Next();
    if (!element) break;
    const auto cents = UnpackSignedAmount(element->value);
    if (cents && element->tag == tag::kTurnover) amounts.turnover += *cents;
    if (cents && element->tag == tag::kTurnoverNeg) amounts.negative += *cents;
    if (cents && element->tag == tag::kTurnoverThirdParty) {
      amounts.thirdParty += *cents;
      amounts.hasThirdParty = true;
    }
  }
  return amounts;
}

// The containers of a TRANSACTION request as the card books them: E1 to E6 into the VAT
// containers; agency sales from E7 (version 1) or the D6 amounts (version 2); delivery notes
// from E8 (version 1) or, with the D7 flag, the whole VAT turnover (version 2). Nothing for a
// training sale, which the card books apart.
Result<std::optional<ContainerSums>> SumsOfRequest(ByteSpan data) {
  ContainerSums sums;
  std::optional<std::int64_t> agency, delivery;
  std::int64_t thirdParty = 0, vatTurnover = 0;
  bool hasThirdParty = false, deliveryFlag = false;
  // A lone last byte is no element and is passed over.
  for (TlvReader reader(data);;) {
    auto element = reader.Next();
    if (!element && reader.Fault() == TlvFault::kValueCut)
      return MakeError(ErrorKind::kMalformed, "request element cut short", element.error().offset);
    if (!element) break;
    const Byte tag = element->tag;
    const ContainerAmounts amounts = AmountsOf(element->value);
    if (tag == tag::kTraining) return std::optional<ContainerSums>();
    if (tag == tag::kDeliveryNote) deliveryFlag = true;
    if (tag == tag::kThirdPartyContainer) agency = amounts.turnover;
    if (tag == tag::kDeliveryNoteContainer) delivery = amounts.turnover;
    if (tag::IsVatContainer(tag)) {
      auto& [turnover, negative] =
          sums["containerVat" + std::to_string(tag::VatContainerNumber(tag))];
      turnover += amounts.turnover;
      negative += amounts.negative;
      vatTurnover += amounts.turnover;
      thirdParty += amounts.thirdParty;
      hasThirdParty = hasThirdParty || amounts.hasThirdParty;
    }
  }
  if (agency || hasThirdParty) sums["containerThirdparty"].first += agency.value_or(thirdParty);
  if (delivery) sums["containerDeliverynote"].first += *delivery;
  if (deliveryFlag && !delivery) sums["containerDeliverynote"].first += vatTurnover;
  return std::optional<ContainerSums>(std::move(sums));
}

void Add(ContainerSums& into, const ContainerSums& sums) {
  for (const auto& [name, amounts] : sums) {
    into[name].first += amounts.first;
    into[name].second += amounts.second;
  }
}

void ReadS(std::string_view sText, FaultBooks& books) {
  for (const ScannedRecord& record : ScanJournal(sText).records) {
    if (record.name != "transactionEncoded") continue;
    const auto request = ChildText(record.body, "transactionRequest");
    // Journalled before it was sent: a request cut short never reached the card.
    if (!request) continue;
    const Result<Bytes> data = Base64Decode(*request);
    auto read = data ? SumsOfRequest(*data) : MakeError(ErrorKind::kMalformed, "not Base64");
    if (!read) {
      books.problems.push_back("S record at " + std::to_string(record.offset) +
                               ": request unreadable: " + read.error().English());
      continue;
    }
    const std::optional<ContainerSums>& sums = *read;
    const auto response = ChildText(record.body, "transactionResponse");
    if (!response) {
      ++books.unansweredRequests;
      if (sums) books.unanswered.push_back(*sums);
      continue;
    }
    const Result<Bytes> answer = Base64Decode(*response);
    Result<TransactionAnswer> answered =
        answer ? ReadTransactionAnswer(*answer) : MakeError(ErrorKind::kMalformed, "not Base64");
    if (!answered) {
      books.problems.push_back("S record at " + std::to_string(record.offset) +
                               ": answer unreadable: " + answered.error().English());
      continue;
    }
    books.answered.push_back(answered->seqNo);
    if (sums) Add(books.answeredSums, *sums);
  }
}

void ReadL(std::string_view lText, FaultBooks& books) {
  for (const ScannedRecord& record : ScanJournal(lText).records) {
    if (!record.complete || record.name != "report") continue;
    books.closing = SumsOfReport(record.body);
    books.closingLast = static_cast<std::uint64_t>(NumberIn(record.body, "seqNoTransactionLast"));
  }
}

// Whether `closing` is `answered` plus exactly `count` of `candidates`, from index `from` on.
bool SumsMatch(const ContainerSums& closing, const ContainerSums& answered,
               const std::vector<ContainerSums>& candidates, std::size_t from, std::size_t count) {
  if (count == 0) {
    ContainerSums names = closing;
    Add(names, answered);
    for (const auto& [name, unused] : names) {
      if (name == kTraining) continue;
      const auto want = closing.find(name), have = answered.find(name);
      const auto zero = std::pair<std::int64_t, std::int64_t>{0, 0};
      if ((want == closing.end() ? zero : want->second) !=
          (have == answered.end() ? zero : have->second))
        return false;
    }
    return true;
  }
  for (std::size_t i = from; i + count <= candidates.size(); ++i) {
    ContainerSums with = answered;
    Add(with, candidates[i]);
    if (SumsMatch(closing, with, candidates, i + 1, count - 1)) return true;
  }
  return false;
}

std::string TotalsText(const ContainerSums& sums) {
  std::string text;
  for (const auto& [name, amounts] : sums)
    text += " " + name + "=" + std::to_string(amounts.first) + "/" + std::to_string(amounts.second);
  return text.empty() ? " (none)" : text;
}

}  // namespace

void ReadFaultBooks(std::string_view sText, std::string_view lText, FaultBooks& books) {
  ReadS(sText, books);
  ReadL(lText, books);
}

std::vector<std::string> CheckFaultBooks(const FaultBooks& books) {
  std::vector<std::string> problems = books.problems;
  std::uint64_t last = 0;
  for (std::uint64_t seqNo : books.answered) {
    if (seqNo <= last)
      problems.push_back("sequence number " + std::to_string(seqNo) + " after " +
                         std::to_string(last));
    last = std::max(last, seqNo);
  }
  if (books.closingLast) last = std::max(last, *books.closingLast);
  // The card numbers from 1, so every number up to the last is either answered or lost.
  const std::uint64_t answered = books.answered.size();
  const std::uint64_t missing = last > answered ? last - answered : 0;
  if (missing > books.unansweredRequests)
    problems.push_back(std::to_string(missing) + " sequence number(s) missing, but only " +
                       std::to_string(books.unansweredRequests) + " request(s) got no answer");
  if (!books.closing || !problems.empty()) return problems;
  constexpr std::size_t kMostCandidates = 24;
  if (books.unanswered.size() > kMostCandidates) {
    problems.push_back("too many unanswered transactions to match the card's totals");
  } else if (missing > books.unanswered.size() ||
             !SumsMatch(*books.closing, books.answeredSums, books.unanswered, 0, missing)) {
    problems.push_back("card totals" + TotalsText(*books.closing) + " are not the answered" +
                       TotalsText(books.answeredSums) + " plus " + std::to_string(missing) +
                       " of " + std::to_string(books.unanswered.size()) + " unanswered");
  }
  return problems;
}

}  // namespace kasse
