#pragma once
// Reading the journal's XML by hand: the journal writes its own flat, unescaped form, so a
// general parser would reject what the register wrote (names with "<" or "&").

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kasse {

struct ScannedRecord {
  std::string_view name;  // transactionEncoded, reportEncoded, transaction, report
  std::string_view body;  // between the opening and the closing tag
  std::size_t offset = 0;
  bool complete = true;  // false: the file ends inside the record
};

struct ScannedJournal {
  bool header = false;                   // starts with the journal header
  bool closed = false;                   // ends with the closing tag
  std::size_t junkAt = 0;                // offset of text that is no record, 0 for none
  std::vector<std::string_view> params;  // bodies of qorParams blocks
  std::vector<ScannedRecord> records;
};

ScannedJournal ScanJournal(std::string_view text);

// Element text with the XML escapes the journal writes (&lt; &gt; &amp; &quot; &apos; and
// numeric references to single bytes) undone; an unknown escape stays as written.
std::string XmlUnescaped(std::string_view text);

// The content of the first <name>...</name> in text, from `from` on.
std::optional<std::string_view> ChildText(std::string_view text, std::string_view name,
                                          std::size_t from = 0);

}  // namespace kasse
