#pragma once
// The card's reports: daily closing (signed or not), the sum over a span of months, and the
// activation and deactivation of the card, which answer in the same structure; and the list of
// booked months. Each report starts a new record and a new receipt, is journalled in both
// files and leaves its decoded answer and signature on the receipt.

#include <string>

#include "protocol/card_answers.h"
#include "protocol/card_link.h"
#include "protocol/transaction_record.h"

namespace kasse {

// The register's side of a report: the receipt and the operator's answers.
class ReportHost : public ReceiptSink {
 public:
  virtual void ResetReceipt() = 0;
  virtual void AppendReceiptText(const std::string& text) = 0;
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
  // OK (true) or Cancel.
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
};

// A daily closing the card signs, or one it only reports.
enum class ClosingKind { kSigned, kUnsigned };

class Reports {
 public:
  Reports(TransactionRecord& record, CardLink& card, ReportHost& host)
      : record_(record), card_(card), host_(host) {}

  Result<void> DailyClosing(ClosingKind kind);
  // Months as three packed bytes each (20 09 01 is January 2009).
  Result<void> SpanReport(ByteSpan firstMonth, ByteSpan lastMonth);
  // Six ASCII digits; anything else is refused before the card sees it.
  Result<void> ActivateCard(const std::string& pin);
  // Asks twice; declining either question sends nothing.
  Result<void> DeactivateCard();
  Result<BookedMonths> ReadBookedMonths();

  // The data text of the last report's answer.
  const std::string& LastResponse() const { return lastResponse_; }

 private:
  struct Kind {
    Byte p1;
    Byte lc;
    const char* heading;
  };
  void Start(const std::string& title);
  Result<void> Send(const Kind& kind, std::string commandText, std::size_t requestLength);
  void ParseReportResponse(const std::string& dataText);

  TransactionRecord& record_;
  CardLink& card_;
  ReportHost& host_;
  std::string lastResponse_;
};

}  // namespace kasse
