#pragma once
// The signing exchange: TRANSACTION to the card, its answer into both journal files and onto
// the receipt, and on request VERIFY SIGNATURE by the card, which colours the receipt.
//
// The request is journalled before the command is sent, so that a crash between the card's
// signature and the journal write can never lose a sequence number without a trace: a request
// without an answer in the S file marks exactly the commands that got none. The request is
// synced before the command goes out and the answer before the call returns; a refusal is
// journalled with the card's status word.

#include <cstdint>
#include <string>

#include "protocol/card_link.h"
#include "protocol/transaction_record.h"

namespace kasse {

class TransactionSigning : public TransactionSigner {
 public:
  TransactionSigning(CardLink& card, ReceiptSink& receipt, DebugHold* hold = nullptr)
      : card_(card), receipt_(receipt), hold_(hold) {}

  void SetSwitches(const DebugSwitches& switches) { switches_ = switches; }
  // The debug console that holds commands; none passes them through.
  void SetHold(DebugHold* hold) { hold_ = hold; }
  const DebugSwitches& Switches() const { return switches_; }

  Result<void> SignTransaction(TransactionRecord& record) override;

  const std::string& LastRequestBase64() const { return lastRequestBase64_; }
  const std::string& LastResponseBase64() const { return lastResponseBase64_; }
  // Whether the last VERIFY SIGNATURE confirmed the signature (nothing when none ran).
  std::optional<bool> LastVerification() const { return lastVerification_; }
  // TRANSACTION commands handed to the card so far: a failure that leaves it unchanged came
  // before the card was asked, and the sale can be cashed in again.
  std::uint64_t CommandsSent() const { return commandsSent_; }
  // The card did not answer the last TRANSACTION within the patience limit: the request stays
  // journalled without an answer, and a late answer is journalled when it comes.
  bool LastUnanswered() const { return lastUnanswered_; }

 private:
  Result<void> Fail(TransactionRecord& record, std::string reason);
  Result<void> JournalRequest(TransactionRecord& record, ByteSpan data);
  Result<void> JournalResponse(TransactionRecord& record, const Bytes& answer);
  Result<void> Verify(TransactionRecord& record, const Bytes& answer);
  std::string Hold(std::string text, bool wanted);

  CardLink& card_;
  ReceiptSink& receipt_;
  DebugHold* hold_;
  DebugSwitches switches_;
  std::string lastRequestBase64_;
  std::string lastResponseBase64_;
  std::optional<bool> lastVerification_;
  std::uint64_t commandsSent_ = 0;
  bool lastUnanswered_ = false;
};

}  // namespace kasse
