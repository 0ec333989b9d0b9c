#include "sim/log_replay.h"

namespace kasse::sim {
namespace {

struct Counters {
  std::uint32_t transaction = 0;
  std::uint32_t report = 0;
  bool operator==(const Counters&) const = default;
};

Counters Of(const CardState& books) {
  return {books.transactionSeq, books.reportSeq};
}

std::string Text(Counters c) {
  return "transaction " + std::to_string(c.transaction) + " and report " + std::to_string(c.report);
}

// Each counter the same or one more.
bool Continues(Counters before, Counters after) {
  const auto step = [](std::uint32_t from, std::uint32_t to) {
    return to == from || to == from + 1;
  };
  return step(before.transaction, after.transaction) && step(before.report, after.report);
}

bool AtOrBefore(Counters c, Counters snapshot) {
  return c.transaction <= snapshot.transaction && c.report <= snapshot.report;
}

}  // namespace

Result<CardState> ReplayLog(const CardState& snapshot, const std::vector<LogRecord>& records,
                            const CardPaths& paths) {
  const Counters kept = Of(snapshot);
  const auto disagree = [&](const LogRecord& record, const std::string& log) {
    return CardRefusal(paths, paths.log, record.offset,
                       "the snapshot " + paths.state.string() + " (" + Text(kept) +
                           ") and the log disagree: " + log);
  };
  CardState books = snapshot;
  // Inside: replaying records the snapshot already holds (the log was not emptied after it),
  // until the books are exactly the snapshot again.
  bool inside = false;
  Counters previous = kept;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const LogRecord& record = records[i];
    if (auto applied = ApplyChange(record.payload, books); !applied) {
      return CardRefusal(paths, paths.log, record.offset,
                         "its record does not read (" + applied.error().English() + ")");
    }
    const Counters now = Of(books);
    if (i > 0 && !Continues(previous, now)) {
      return CardRefusal(
          paths, paths.log, record.offset,
          "records out of order: " + Text(previous) + " is followed by " + Text(now));
    }
    if (i == 0 && !Continues(kept, now)) {
      if (!AtOrBefore(now, kept)) return disagree(record, "its first record holds " + Text(now));
      inside = true;
    }
    if (inside && !AtOrBefore(now, kept)) {
      return disagree(record, "its records pass the snapshot's counters without giving its books");
    }
    if (inside && books == snapshot) inside = false;
    previous = now;
  }
  if (inside) return disagree(records.back(), "the log ends at " + Text(previous));
  return books;
}

}  // namespace kasse::sim
