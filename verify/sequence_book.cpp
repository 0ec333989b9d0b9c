#include "verify/sequence_book.h"

namespace kasse {
namespace {

std::string Kind(bool transaction) {
  return transaction ? "transaction" : "report";
}

std::string Range(std::uint64_t first, std::uint64_t last) {
  return first == last ? std::to_string(first)
                       : std::to_string(first) + " to " + std::to_string(last);
}

}  // namespace

SequenceBook::Last* SequenceBook::LastOf(const std::string& card, bool transaction) {
  for (Last& last : last_)
    if (last.card == card && last.transaction == transaction) return &last;
  return nullptr;
}

SequenceBook::Problem SequenceBook::Record(const std::string& card, bool transaction,
                                           std::uint64_t number, std::size_t unanswered) {
  Last* last = LastOf(card, transaction);
  const std::string prefix =
      Kind(transaction) + " " + std::to_string(number) + " of card " + card + ": ";
  if (last == nullptr) {
    last_.push_back({card, transaction, number});
    return {};
  }
  if (number <= last->number) {
    // The higher number stays the reference.
    return {prefix + (number == last->number ? "sequence number repeated"
                                             : "sequence number lower than the one before (" +
                                                   std::to_string(last->number) + ")"),
            std::nullopt};
  }
  Problem problem;
  if (number > last->number + 1) {
    gaps_.push_back({card, transaction, number, {{last->number + 1, number - 1}}, unanswered});
    problem.gap = gaps_.size() - 1;
    problem.text = *GapText(gaps_.size() - 1);
  }
  last->number = number;
  return problem;
}

SequenceBook::Problem SequenceBook::RecordLate(const std::string& card, bool transaction,
                                               std::uint64_t number, std::size_t unanswered) {
  for (Gap& gap : gaps_) {
    if (gap.card != card || gap.transaction != transaction) continue;
    for (std::size_t i = 0; i < gap.missing.size(); ++i) {
      const auto [first, last] = gap.missing[i];
      if (number < first || number > last) continue;
      gap.missing.erase(gap.missing.begin() + static_cast<std::ptrdiff_t>(i));
      if (number < last)
        gap.missing.insert(gap.missing.begin() + static_cast<std::ptrdiff_t>(i),
                           {number + 1, last});
      if (number > first)
        gap.missing.insert(gap.missing.begin() + static_cast<std::ptrdiff_t>(i),
                           {first, number - 1});
      return {};
    }
  }
  return Record(card, transaction, number, unanswered);
}

std::optional<std::string> SequenceBook::GapText(std::size_t id) const {
  const Gap& gap = gaps_[id];
  if (gap.missing.empty()) return std::nullopt;
  std::string ranges;
  for (const auto& [first, last] : gap.missing)
    ranges += (ranges.empty() ? "" : ", ") + Range(first, last);
  return Kind(gap.transaction) + " " + std::to_string(gap.number) + " of card " + gap.card +
         ": gap: " + ranges + " missing; the journal holds " + std::to_string(gap.unanswered) +
         " request(s) without an answer so far";
}

}  // namespace kasse
