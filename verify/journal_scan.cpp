#include "verify/journal_scan.h"

#include <string>

#include "journal/journal.h"

namespace kasse {

std::optional<std::string_view> ChildText(std::string_view text, std::string_view name,
                                          std::size_t from) {
  const std::string open = "<" + std::string(name) + ">";
  const std::string close = "</" + std::string(name) + ">";
  const std::size_t start = text.find(open, from);
  if (start == std::string_view::npos) return std::nullopt;
  const std::size_t begin = start + open.size();
  const std::size_t end = text.find(close, begin);
  if (end == std::string_view::npos) return std::nullopt;
  return text.substr(begin, end - begin);
}

namespace {

constexpr std::string_view kRecordNames[] = {"transactionEncoded", "reportEncoded", "transaction",
                                             "report", "qorParams"};

// The record element starting at `at`, or nothing when no known element starts there.
std::optional<ScannedRecord> RecordAt(std::string_view text, std::size_t at) {
  for (std::string_view name : kRecordNames) {
    const std::string open = "<" + std::string(name) + ">";
    if (text.compare(at, open.size(), open) != 0) continue;
    const std::string close = "</" + std::string(name) + ">";
    const std::size_t begin = at + open.size();
    const std::size_t end = text.find(close, begin);
    ScannedRecord record{name, {}, at, end != std::string_view::npos};
    record.body = text.substr(begin, record.complete ? end - begin : std::string_view::npos);
    return record;
  }
  return std::nullopt;
}

}  // namespace

ScannedJournal ScanJournal(std::string_view text) {
  ScannedJournal scanned;
  scanned.header = text.starts_with(kJournalHeader);
  if (!scanned.header) return scanned;
  std::size_t at = kJournalHeader.size();
  while (at < text.size()) {
    if (text.substr(at) == kJournalClosingTag) {
      scanned.closed = true;
      return scanned;
    }
    auto record = RecordAt(text, at);
    if (!record) {
      scanned.junkAt = at;
      return scanned;
    }
    if (record->name == "qorParams") {
      if (record->complete) scanned.params.push_back(record->body);
    } else {
      scanned.records.push_back(*record);
    }
    if (!record->complete) return scanned;
    at = record->offset + record->name.size() * 2 + 5 + record->body.size();
  }
  return scanned;
}

}  // namespace kasse
