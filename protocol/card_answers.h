#pragma once
// Readers of the card's answers to TRANSACTION, the reports and GET DATA 01F2, and the builder
// of the VERIFY SIGNATURE data. Every reader is bounded by the answer's length: a short or
// malformed answer is reported with the offset where reading stopped, never read past its end.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

class LanguageTexts;

struct TransactionAnswer {
  std::string tpId;                // the card's identity, as characters
  std::uint64_t tpIdNo = 0;        // the card's number
  std::uint64_t seqNo = 0;         // transaction sequence number (element CB)
  Bytes signature;                 // 48 bytes
  std::optional<Bytes> debugHash;  // element 9A of a debug card
};

// Elements by position: tpId and tpIdNo (tags not checked), CB, then the signature as the 48
// bytes behind the fourth element's tag and length, then an optional 9A.
Result<TransactionAnswer> ReadTransactionAnswer(ByteSpan answer);

// The VERIFY SIGNATURE command: the verify buffer up to the container mark, the answer's CB
// element, the rest of the verify buffer, the answer's 9E element, Lc set and Le 00 appended.
// `verifyRecord` is the buffer from its header up to its write index. Refused when the answer
// has no CB with a 9E behind it, or the data would exceed 250 bytes.
Result<Bytes> BuildVerifyRecord(ByteSpan verifyRecord, std::size_t containerMark, ByteSpan answer);

// Unsigned big-endian of up to 8 bytes; a longer value is an error at its ninth byte.
Result<std::uint64_t> ReadCardInteger(ByteSpan value);

// A report's amount: digits of every nibble but the sign nibbles C and D, leading zeros kept,
// "-" in front when the last nibble is D.
std::string ReportAmountText(ByteSpan value);

struct ReportAnswer {
  std::vector<std::string> journalWrites;  // L-file texts, in order
  std::string receiptText;                 // lines for the receipt, "\r\n" before each
  std::optional<Bytes> signature;          // 48 bytes when the card signed
  std::optional<Error> problem;            // set when the answer was short or malformed
};

// Decodes what it can; elements after a problem are not read. A container is written only
// when it was read whole, so the journal stays well-formed.
ReportAnswer ReadReportAnswer(ByteSpan answer, const LanguageTexts& texts);

// The card's name and number and the report's sequence number (C4, C5 and CC from the top
// level of a report's answer) of a report the card signed; nothing when the answer has no
// readable CC or no signature: an unsigned closing repeats the last number, it takes none.
struct ReportNumber {
  std::string tpId;
  std::uint64_t tpIdNo = 0;
  std::uint64_t number = 0;
};
std::optional<ReportNumber> ReadReportNumber(ByteSpan answer);

struct BookedMonths {
  int startYear = 0;
  int startMonth = 0;
  std::vector<Byte> offsets;  // months after the first month
};

Result<BookedMonths> ReadBookedMonths(ByteSpan answer);

// "+" + offset padded to three + " | " + MM/YYYY.
std::vector<std::string> MonthListLines(const BookedMonths& months);

// The months chosen in the month list from the focused item and the selection: the first and
// last line index, or nothing when the range is not usable.
std::optional<std::pair<int, int>> SpanRange(int focusedIndex, int selectedCount,
                                             bool previousSelected);

// A month-list line ("+  0 | 02/2009") as three packed bytes 20 09 02.
Result<Bytes> PackedMonthOfLine(const std::string& line);

}  // namespace kasse
