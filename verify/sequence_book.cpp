#include "verify/sequence_book.h"

#include <algorithm>
#include <map>
#include <optional>

namespace kasse {

void SequenceSegment::Answered(std::uint64_t number, const RecordPlace& place, std::uint64_t digest,
                               bool counted, const Bytes& request) {
  if (firstRequest.empty()) firstRequest = request;
  const NumberedRecord numbered{digest, place.offset, static_cast<std::uint32_t>(place.record),
                                counted};
  if (!events.empty()) {
    SequenceEvent& run = events.back();
    if (run.kind == SequenceEvent::Kind::kAnswered && run.last + 1 == number && number != 0) {
      run.last = number;
      run.lastPlace = place;
      run.records.push_back(numbered);
      return;
    }
  }
  SequenceEvent run;
  run.first = run.last = number;
  run.place = run.lastPlace = place;
  run.records.push_back(numbered);
  events.push_back(std::move(run));
}

namespace {

std::string Kind(bool transaction) {
  return transaction ? "transaction" : "report";
}

std::string Range(std::uint64_t first, std::uint64_t last) {
  return first == last ? std::to_string(first)
                       : std::to_string(first) + " to " + std::to_string(last);
}

// The numbers one stream (a card and a kind) has seen and misses, replayed segment by segment.
class Stream {
 public:
  Stream(std::string card, bool transaction, const std::vector<std::string>& names,
         HistoryResult& result)
      : card_(std::move(card)), transaction_(transaction), names_(names), result_(result) {}

  void Replay(const SequenceSegment& segment);
  void Finish();

 private:
  // Numbers first..last seen, from one run or late answer.
  struct Seen {
    std::uint64_t last = 0;
    const SequenceEvent* event = nullptr;
  };
  struct Gap {
    RecordPlace place, before;
    std::uint64_t number = 0, beforeNumber = 0;
    std::size_t unanswered = 0;
  };
  struct Pending {
    Bytes request;
    std::size_t finding = 0;
    bool cut = false;
  };

  std::string Place(const RecordPlace& place) const {
    return names_[place.pair] + " @" + std::to_string(place.offset) + " record " +
           std::to_string(place.record);
  }
  std::string Prefix(std::uint64_t first, std::uint64_t last) const {
    return Kind(transaction_) + (first == last ? " " : "s ") + Range(first, last) + " of card " +
           card_ + ": ";
  }
  // Where number n of a seen run stands.
  static RecordPlace PlaceOf(const Seen& seen, std::uint64_t n);
  // Where numbers first..last of a seen run stand.
  std::string PlacesOf(const Seen& seen, std::uint64_t first, std::uint64_t last) const;
  // Returns whether any of the numbers was seen before in another record.
  bool Add(const SequenceEvent& event);
  // Numbers from..to of `event`, seen before in `seen`; returns whether any is a repeat.
  bool Again(const Seen& seen, std::uint64_t from, std::uint64_t to, const SequenceEvent& event);
  // Whether number n of `event` is the record `seen` holds, byte for byte, from another pair.
  static bool Identical(const Seen& seen, std::uint64_t n, const SequenceEvent& event);
  // A segment's first answered record may be the rescued answer of a request an earlier pair
  // kept without one, when the run that signed it could not journal it.
  void Rescued(const SequenceSegment& segment, const SequenceEvent& first);
  void Answer(std::vector<Pending>::reverse_iterator pending);
  void Rejected(const SequenceEvent& event);
  void Fill(std::uint64_t first, std::uint64_t last);
  void Insert(std::uint64_t first, std::uint64_t last, const SequenceEvent& event);

  std::string card_;
  bool transaction_;
  const std::vector<std::string>& names_;
  HistoryResult& result_;
  std::map<std::uint64_t, Seen> seen_;  // by first number; the ranges never overlap
  std::optional<std::uint64_t> highest_;
  RecordPlace highestPlace_;
  std::vector<Gap> gaps_;
  std::map<std::uint64_t, std::pair<std::uint64_t, std::size_t>> missing_;  // first: last, gap
  std::vector<Pending> pending_;
  std::size_t unanswered_ = 0;
  std::vector<const SequenceEvent*> rejected_;  // judged once every record is seen
};

RecordPlace Stream::PlaceOf(const Seen& seen, std::uint64_t n) {
  const SequenceEvent& event = *seen.event;
  const std::uint64_t index = n - event.first;
  if (index >= event.records.size()) return event.place;  // a late answer: one number
  return {event.place.pair, event.records[index].offset, event.records[index].record};
}

std::string Stream::PlacesOf(const Seen& seen, std::uint64_t first, std::uint64_t last) const {
  const RecordPlace from = PlaceOf(seen, first);
  if (first == last) return Place(from);
  return names_[from.pair] + " records " + std::to_string(from.record) + " to " +
         std::to_string(PlaceOf(seen, last).record);
}

void Stream::Insert(std::uint64_t first, std::uint64_t last, const SequenceEvent& event) {
  seen_[first] = {last, &event};
}

void Stream::Fill(std::uint64_t first, std::uint64_t last) {
  auto it = missing_.upper_bound(first);
  if (it != missing_.begin()) --it;
  while (it != missing_.end() && it->first <= last) {
    const auto [from, entry] = *it;
    const auto [to, gap] = entry;
    if (to < first) {
      ++it;
      continue;
    }
    it = missing_.erase(it);
    if (from < first) missing_[from] = {first - 1, gap};
    if (to > last) it = missing_.emplace(last + 1, std::make_pair(to, gap)).first;
  }
}

bool Stream::Add(const SequenceEvent& event) {
  const std::uint64_t first = event.first, last = event.last;
  if (!highest_) {
    Insert(first, last, event);
    highest_ = last;
    highestPlace_ = event.lastPlace;
    return false;
  }
  bool repeated = false;
  const std::uint64_t below = std::min(last, *highest_);
  if (first <= below) {
    // Numbers up to the highest so far: seen before (a repeat), missing (now found) or new.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> fresh;
    std::uint64_t next = first;
    auto it = seen_.upper_bound(first);
    if (it != seen_.begin()) --it;
    for (; it != seen_.end() && it->first <= below; ++it) {
      const std::uint64_t from = std::max(it->first, first);
      const std::uint64_t to = std::min(it->second.last, below);
      if (from > to) continue;
      if (from > next) fresh.emplace_back(next, from - 1);
      repeated = Again(it->second, from, to, event) || repeated;
      next = to + 1;
    }
    if (next <= below) fresh.emplace_back(next, below);
    for (const auto& [from, to] : fresh) {
      Fill(from, to);
      Insert(from, to, event);
    }
  }
  if (last > *highest_) {
    const std::uint64_t start = std::max(first, *highest_ + 1);
    if (start > *highest_ + 1) {
      gaps_.push_back({event.place, highestPlace_, start, *highest_, unanswered_});
      missing_[*highest_ + 1] = {start - 1, gaps_.size() - 1};
    }
    Insert(start, last, event);
    highest_ = last;
    highestPlace_ = event.lastPlace;
  }
  return repeated;
}

bool Stream::Identical(const Seen& seen, std::uint64_t n, const SequenceEvent& event) {
  const SequenceEvent& first = *seen.event;
  if (first.place.pair == event.place.pair) return false;  // one run never journals twice
  const std::uint64_t a = n - first.first, b = n - event.first;
  return a < first.records.size() && b < event.records.size() &&
         first.records[a].digest == event.records[b].digest;
}

bool Stream::Again(const Seen& seen, std::uint64_t from, std::uint64_t to,
                   const SequenceEvent& event) {
  bool repeated = false;
  for (std::uint64_t n = from;; ++n) {
    if (Identical(seen, n, event)) {
      result_.duplicates.push_back(
          {event.place.pair, card_, transaction_, event.records[n - event.first].counted});
    } else {
      std::uint64_t end = n;
      while (end < to && !Identical(seen, end + 1, event))
        ++end;
      result_.findings.push_back({event.place, Prefix(n, end) + "sequence number" +
                                                   (n == end ? "" : "s") + " repeated; first in " +
                                                   PlacesOf(seen, n, end)});
      repeated = true;
      n = end;
    }
    if (n == to) return repeated;
  }
}

void Stream::Answer(std::vector<Pending>::reverse_iterator pending) {
  result_.answeredLater.push_back(pending->finding);
  --unanswered_;
  pending_.erase(std::next(pending).base());
}

void Stream::Rescued(const SequenceSegment& segment, const SequenceEvent& first) {
  // A new sale that merely looks the same follows a gap when the card had numbered the request.
  if (segment.firstRequest.empty() || (highest_ && first.first != *highest_ + 1)) return;
  const auto match = std::find_if(pending_.rbegin(), pending_.rend(), [&](const Pending& p) {
    return p.cut && p.request == segment.firstRequest;
  });
  if (match != pending_.rend()) Answer(match);
}

void Stream::Rejected(const SequenceEvent& event) {
  const std::uint64_t n = event.first;
  std::string text = Prefix(n, n) + "the card answered this number ";
  auto it = seen_.upper_bound(n);
  if (it != seen_.begin() && n <= std::prev(it)->second.last) {
    text +=
        "a second time and the register refused the answer (kept as evidence, not a sale); "
        "the number's record is in " +
        PlacesOf(std::prev(it)->second, n, n);
  } else {
    text +=
        "again and the register refused the answer as already journalled (kept as evidence, "
        "not a sale), but no record of this number is in these journals";
  }
  result_.findings.push_back({event.place, std::move(text)});
}

void Stream::Replay(const SequenceSegment& segment) {
  std::optional<std::uint64_t> before;
  RecordPlace beforePlace;
  bool firstAnswer = true;
  for (const SequenceEvent& event : segment.events) {
    switch (event.kind) {
      case SequenceEvent::Kind::kUnanswered:
        pending_.push_back({event.request, event.finding, event.cut});
        ++unanswered_;
        break;
      case SequenceEvent::Kind::kRejected:
        rejected_.push_back(&event);
        break;
      case SequenceEvent::Kind::kAnswered:
        if (firstAnswer) Rescued(segment, event);
        firstAnswer = false;
        // Within one run of the register the card only counts up.
        if (!Add(event) && before && event.first < *before) {
          result_.findings.push_back(
              {event.place, Prefix(event.first, event.first) +
                                "sequence number lower than the one before it in this journal (" +
                                std::to_string(*before) + " at record " +
                                std::to_string(beforePlace.record) + ")"});
        }
        before = event.last;
        beforePlace = event.lastPlace;
        break;
      case SequenceEvent::Kind::kLate: {
        if (event.numbered) Add(event);
        // It answers the latest request with the same bytes still without an answer.
        const auto match = std::find_if(pending_.rbegin(), pending_.rend(), [&](const Pending& p) {
          return p.request == event.request;
        });
        if (match == pending_.rend()) {
          result_.findings.push_back(
              {event.place, "late " + Kind(transaction_) +
                                " answer: its request is not in the journal as one without an "
                                "answer"});
          break;
        }
        Answer(match);
        break;
      }
    }
  }
}

void Stream::Finish() {
  for (const SequenceEvent* event : rejected_)
    Rejected(*event);
  std::vector<std::vector<std::pair<std::uint64_t, std::uint64_t>>> open(gaps_.size());
  for (const auto& [first, entry] : missing_)
    open[entry.second].emplace_back(first, entry.first);
  for (std::size_t i = 0; i < gaps_.size(); ++i) {
    if (open[i].empty()) continue;  // every number of it was answered late
    const Gap& gap = gaps_[i];
    std::string ranges;
    for (const auto& [first, last] : open[i])
      ranges += (ranges.empty() ? "" : ", ") + Range(first, last);
    result_.findings.push_back(
        {gap.place, Prefix(gap.number, gap.number) + "gap: " + ranges +
                        " missing; the journal holds " + std::to_string(gap.unanswered) +
                        " request(s) without an answer so far; the number before it, " +
                        std::to_string(gap.beforeNumber) + ", is in " + Place(gap.before)});
  }
}

// The first number a segment says, if any.
std::optional<std::uint64_t> FirstNumber(const SequenceSegment& segment) {
  for (SequenceEvent::Kind kind : {SequenceEvent::Kind::kAnswered, SequenceEvent::Kind::kLate})
    for (const SequenceEvent& event : segment.events)
      if (event.kind == kind && event.numbered) return event.first;
  return std::nullopt;
}

}  // namespace

HistoryResult CheckHistory(std::vector<SequenceSegment> segments,
                           const std::vector<std::string>& sNames) {
  std::map<std::pair<std::string, bool>, std::vector<SequenceSegment>> streams;
  for (SequenceSegment& segment : segments)
    streams[{segment.card, segment.transaction}].push_back(std::move(segment));
  HistoryResult result;
  for (auto& [key, list] : streams) {
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return a.pair < b.pair; });
    // A segment without a number stays behind the one before it by name.
    std::vector<std::pair<std::uint64_t, std::size_t>> order;
    std::uint64_t inherited = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
      inherited = FirstNumber(list[i]).value_or(inherited);
      order.emplace_back(inherited, i);
    }
    std::stable_sort(order.begin(), order.end());
    Stream stream(key.first, key.second, sNames, result);
    for (const auto& [unused, index] : order)
      stream.Replay(list[index]);
    stream.Finish();
  }
  return result;
}

}  // namespace kasse
