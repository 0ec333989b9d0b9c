#include "journal/journal_scan.h"

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

// The byte of "&...;" at the start of text and the escape's length, or nothing.
std::optional<std::pair<char, std::size_t>> Escape(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  for (const auto& [name, byte] : kNamed)
    if (text.starts_with(name)) return std::make_pair(byte, name.size());
  if (!text.starts_with("&#")) return std::nullopt;
  const bool hex = text.size() > 2 && (text[2] == 'x' || text[2] == 'X');
  unsigned value = 0;
  std::size_t at = hex ? 3 : 2;
  const std::size_t digitsFrom = at;
  for (; at < text.size() && at < digitsFrom + 4 && text[at] != ';'; ++at) {
    const char c = text[at];
    const int digit = c >= '0' && c <= '9'          ? c - '0'
                      : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : -1;
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
  }
  if (at == digitsFrom || at >= text.size() || text[at] != ';' || value > 0xFF) return std::nullopt;
  return std::make_pair(static_cast<char>(value), at + 1);
}

}  // namespace

std::string XmlUnescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] == '&') {
      if (auto escape = Escape(text.substr(at))) {
        out += escape->first;
        at += escape->second;
        continue;
      }
    }
    out += text[at++];
  }
  return out;
}

namespace {

constexpr std::string_view kRecordNames[] = {
    "transactionEncoded", "reportEncoded", "transactionLate", "reportLate",
    "transaction",        "report",        "qorParams"};

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
