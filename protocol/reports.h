#pragma once
// The card's reports: daily closing (signed or not), the sum over a span of months, and the
// activation and deactivation of the card, which answer in the same structure; and the list of
// booked months. Each report starts a new record, is journalled in both files and hands back
// its decoded answer and signature for a new receipt.

#include <string>

#include "protocol/card_answers.h"
#include "protocol/card_link.h"
#include "protocol/card_outcome.h"
#include "protocol/number_guard.h"
#include "protocol/transaction_record.h"

namespace kasse {

// The operator's side of a report: a message to read and a question to answer.
class ReportDialog {
 public:
  virtual ~ReportDialog() = default;
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // OK (true) or Cancel.
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
};

// A daily closing the card signs, or one it only reports.
enum class ClosingKind { kSigned, kUnsigned };

class Reports {
 public:
  Reports(TransactionRecord& record, CardLink& card, ReportDialog& dialog)
      : record_(record), card_(card), dialog_(dialog) {}
  // The register's memory of journalled numbers; none checks nothing.
  void SetGuard(NumberGuard* guard) { guard_ = guard; }

  // The receipt parts of a report: its title, fields and decoded answer (responseText), then
  // its signature, always shown.
  CardOutcome DailyClosing(ClosingKind kind);
  // Months as three packed bytes each (20 09 01 is January 2009).
  CardOutcome SpanReport(ByteSpan firstMonth, ByteSpan lastMonth);
  // Six ASCII digits; anything else is refused before the card sees it.
  CardOutcome ActivateCard(const std::string& pin);
  // Asks twice; declining either question sends nothing.
  CardOutcome DeactivateCard();
  Result<BookedMonths> ReadBookedMonths();

  // The data of the last report's answer.
  const Bytes& LastResponse() const { return lastResponse_; }

 private:
  struct Kind {
    CommandHeader header;
    Byte lc;
    const char* heading;
  };
  void Start(const std::string& title);
  // `command` empty: the first `requestLength` bytes of the command buffer, Le included.
  CardOutcome Send(const Kind& kind, Bytes command, std::size_t requestLength);
  void ParseReportResponse(const Bytes& answer, ByteSpan request, CardOutcome& outcome);
  // The register refuses an answer whose number it journalled before; the answer is kept as
  // evidence in an element of its own.
  bool Rejected(const Bytes& answer, ByteSpan request, CardOutcome& outcome);

  TransactionRecord& record_;
  CardLink& card_;
  ReportDialog& dialog_;
  NumberGuard* guard_ = nullptr;
  Bytes lastResponse_;
};

}  // namespace kasse
