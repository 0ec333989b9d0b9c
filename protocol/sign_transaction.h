#pragma once
// The signing exchange: TRANSACTION to the card, its answer into both journal files, and on
// request VERIFY SIGNATURE by the card; what the answer adds to the receipt comes back in the
// outcome, for the register to apply once the answer is on the disk.
//
// The request is journalled before the command is sent, so that a crash between the card's
// signature and the journal write can never lose a sequence number without a trace: a request
// without an answer in the S file marks exactly the commands that got none. The request is
// synced before the command goes out and the answer before the call returns; a refusal is
// journalled with the card's status word, and an answer whose number the register journalled
// before is journalled as rejected and never becomes a receipt.

#include <cstdint>
#include <string>

#include "protocol/card_link.h"
#include "protocol/number_guard.h"
#include "protocol/transaction_record.h"

namespace kasse {

class TransactionSigning : public TransactionSigner {
 public:
  explicit TransactionSigning(CardLink& card, DebugHold* hold = nullptr)
      : card_(card), hold_(hold) {}

  void SetSwitches(const DebugSwitches& switches) { switches_ = switches; }
  // The debug console that holds commands; none passes them through.
  void SetHold(DebugHold* hold) { hold_ = hold; }
  // The register's memory of journalled numbers; none checks nothing.
  void SetGuard(NumberGuard* guard) { guard_ = guard; }
  const DebugSwitches& Switches() const { return switches_; }

  CardOutcome SignTransaction(TransactionRecord& record) override;

  const std::string& LastRequestBase64() const { return lastRequestBase64_; }
  const std::string& LastResponseBase64() const { return lastResponseBase64_; }
  // Whether the last VERIFY SIGNATURE confirmed the signature (nothing when none ran).
  std::optional<bool> LastVerification() const { return lastVerification_; }
  // TRANSACTION commands handed to the card so far.
  std::uint64_t CommandsSent() const { return commandsSent_; }

 private:
  CardOutcome Fail(TransactionRecord& record, CardStage stage, Error error);
  Result<void> JournalRequest(TransactionRecord& record, ByteSpan data);
  CardOutcome JournalAnswer(TransactionRecord& record, ByteSpan request, const Bytes& answer);
  CardOutcome Reject(TransactionRecord& record, const Bytes& answer, Error why);
  void Verify(TransactionRecord& record, const Bytes& answer, CardOutcome& outcome);
  Bytes Hold(Bytes command, bool wanted);

  CardLink& card_;
  DebugHold* hold_;
  NumberGuard* guard_ = nullptr;
  DebugSwitches switches_;
  std::string lastRequestBase64_;
  std::string lastResponseBase64_;
  std::optional<bool> lastVerification_;
  std::uint64_t commandsSent_ = 0;
};

}  // namespace kasse
