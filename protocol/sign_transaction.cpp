#include "protocol/sign_transaction.h"

#include "common/base_n.h"
#include "common/card_commands.h"
#include "common/card_tags.h"
#include "common/hex_text.h"
#include "journal/xml_text.h"
#include "protocol/card_answers.h"
#include "protocol/late_answer.h"
#include "protocol/protocol_messages.h"

namespace kasse {
namespace {

// TRANSACTION: the record with the Le byte 00 behind it.
Bytes TransactionCommand(const RecordBuffer& buffer) {
  const auto begin = buffer.Raw().begin();
  return Bytes(begin, begin + buffer.Length() + 1);
}

Result<void> Write(TransactionRecord& record, int targets, std::string_view text) {
  return record.JournalFiles().JournalWrite(targets, JournalSection::kRecord, text);
}

// yyyymmdd of the request's date element, which every record begins with.
std::string RequestDate(ByteSpan request) {
  if (request.size() < 6 || request[0] != tag::kDate || request[1] != 4) return {};
  return HexCompact(request.subspan(2, 4));
}

}  // namespace

Bytes TransactionSigning::Hold(Bytes command, bool wanted) {
  if (!wanted || hold_ == nullptr) return command;
  return hold_->HoldForDebug(std::move(command));
}

CardOutcome TransactionSigning::Fail(TransactionRecord& record, CardStage stage, Error error) {
  const LanguageTexts& texts = record.Texts();
  record.Monitor().MonitorWriteLine("\t" + texts.LangText(32) + ": " + texts.LangText(33));
  (void)Write(record, kJournalS, "</transactionEncoded>");
  (void)Write(record, kJournalL, "</transaction>");
  (void)record.JournalFiles().Flush();  // a failure stays held and is retried
  CardOutcome outcome;
  outcome.stage = stage;
  outcome.receipt.responseText = record.ResponseReceiptText();
  outcome.receipt.colour = kReceiptFailed;
  outcome.error = std::move(error);
  return outcome;
}

CardOutcome TransactionSigning::SignTransaction(TransactionRecord& record) {
  lastVerification_.reset();
  const LanguageTexts& texts = record.Texts();
  const RecordBuffer& buffer = record.CommandBuffer();
  const Bytes command = Hold(TransactionCommand(buffer), switches_.checkTrans);
  record.Monitor().MonitorWriteLine("\t" + texts.LangText(31) + ": " + CommandText(command));

  // The request is on the disk before the card can sign it: a power cut then leaves at least
  // the request beside every number the card gave out.
  const ByteSpan data = buffer.View().subspan(RecordBuffer::kHeaderSize);
  if (auto journalled = JournalRequest(record, data); !journalled) {
    (void)Write(record, kJournalS, "</transactionEncoded>");
    (void)Write(record, kJournalL, "</transaction>");
    (void)record.JournalFiles().Flush();
    // The register words it for the operator (what happened to the sale, and the advice).
    return NotSent(journalled.error(), journalled.error());
  }

  card_.MonitorLabel("TRANSACTION", kLabelBlue);
  ++commandsSent_;
  const Result<CardAnswer> reply = card_.SendKeepingLateAnswer(
      command, JournalLateAnswer(record.JournalFiles(), "transaction", data));
  if (!reply && reply.error().kind == ErrorKind::kBusy)
    return Fail(
        record, CardStage::kUnanswered,
        MakeError(ErrorKind::kCard, "the card stopped answering: the sale is not cashed in"));
  if (!reply || !reply->Accepted()) {
    // A status word is a refusal (nothing signed); none at all is a request without an answer.
    if (reply)
      (void)Write(
          record, kJournalS,
          "<transactionRefused>" + StatusWordText(reply->statusWord) + "</transactionRefused>");
    return Fail(record, CardStage::kRefused,
                MakeError(ErrorKind::kCard, protocol_msg::kCardDidNotSign));
  }

  CardOutcome outcome = JournalAnswer(record, data, reply->data);
  if (outcome.stage == CardStage::kRejected) return outcome;
  // Before the receipt is shown: a signed sale exists on the disk or the register holds it.
  if (auto synced = record.JournalFiles().Sync(kJournalBoth); !synced) {
    outcome.recordsHeld = outcome.stage == CardStage::kSigned;
    outcome.error = synced.error();
    outcome.journalFailure = synced.error();
    return outcome;
  }
  if (outcome.stage == CardStage::kSigned && switches_.checkVer)
    Verify(record, reply->data, outcome);
  return outcome;
}

Result<void> TransactionSigning::JournalRequest(TransactionRecord& record, ByteSpan data) {
  lastRequestBase64_ = Base64Encode(data);
  Result<void> written = Write(
      record, kJournalS, "<transactionRequest>" + lastRequestBase64_ + "</transactionRequest>");
  Result<void> synced = record.JournalFiles().Sync(kJournalS);
  return written ? synced : written;
}

CardOutcome TransactionSigning::JournalAnswer(TransactionRecord& record, ByteSpan request,
                                              const Bytes& answer) {
  const LanguageTexts& texts = record.Texts();
  auto read = ReadTransactionAnswer(answer);
  if (read && guard_ != nullptr) {
    if (auto fresh = guard_->Check(NumberKind::kTransaction, read->tpId, read->tpIdNo, read->seqNo);
        !fresh)
      return Reject(record, answer, fresh.error());
  }
  lastResponseBase64_ = Base64Encode(answer);
  (void)Write(record, kJournalS,
              "<transactionResponse>" + lastResponseBase64_ +
                  "</transactionResponse></transactionEncoded>");
  record.Monitor().MonitorWriteLine("\t" + texts.LangText(32) + ": " + HexCompact(answer));
  CardOutcome outcome;
  if (!read) {
    (void)Write(record, kJournalL, "</transaction>");
    outcome.stage = CardStage::kRefused;
    outcome.receipt.responseText = record.ResponseReceiptText();
    outcome.receipt.colour = kReceiptFailed;
    outcome.error = MakeError(ErrorKind::kCard, protocol_msg::kAnswerUnreadable, {read.error()},
                              read.error().offset);
    return outcome;
  }
  std::string l = "<tpId>" + XmlEscape(read->tpId) + "</tpId>";
  l += "<tpIdNo>" + std::to_string(read->tpIdNo) + "</tpIdNo>";
  l += "<seqNoTransaction>" + std::to_string(read->seqNo) + "</seqNoTransaction>";
  l += "<sig>" + HexCompact(read->signature) + "</sig>";
  if (read->debugHash)
    l += "<debugHashTransaction>" + HexCompact(*read->debugHash) + "</debugHashTransaction>";
  l += "</transaction>";
  // A failed write is held by the journal; the sync that follows tells.
  (void)Write(record, kJournalL, l);
  // Held or written, the number is the card's last from now on.
  if (guard_ != nullptr)
    guard_->Journalled(NumberKind::kTransaction, read->tpId, read->tpIdNo, read->seqNo,
                       RequestDate(request));
  record.AppendResponseText("\r\n" + texts.LangText(42) + ": \t" + read->tpId);
  record.AppendResponseText("\r\n" + texts.LangText(43) + ": " + std::to_string(read->tpIdNo));
  record.AppendResponseText("\r\n" + texts.LangText(46) + ": " + std::to_string(read->seqNo));
  (void)record.JournalFiles().ExportFlushIfDue();
  outcome.stage = CardStage::kSigned;
  outcome.receipt.signature = read->signature;
  outcome.receipt.responseText = record.ResponseReceiptText();
  outcome.receipt.qrPayload.assign(request.begin(), request.end());
  outcome.receipt.qrPayload.insert(outcome.receipt.qrPayload.end(), answer.begin(), answer.end());
  return outcome;
}

// The answer is kept as evidence, in an element of its own: it is not a sale, and the audit
// must not count its signature as one.
CardOutcome TransactionSigning::Reject(TransactionRecord& record, const Bytes& answer, Error why) {
  const LanguageTexts& texts = record.Texts();
  (void)Write(record, kJournalS,
              "<transactionRejected>" + Base64Encode(answer) +
                  "</transactionRejected></transactionEncoded>");
  record.Monitor().MonitorWriteLine("\t" + texts.LangText(32) + ": " + HexCompact(answer));
  record.Monitor().MonitorWriteLine("\t" + why.English());
  (void)Write(record, kJournalL, "</transaction>");
  (void)record.JournalFiles().Sync(kJournalBoth);  // a failure stays held and is retried
  CardOutcome outcome;
  outcome.stage = CardStage::kRejected;
  outcome.receipt.colour = kReceiptFailed;
  outcome.error = std::move(why);
  return outcome;
}

void TransactionSigning::Verify(TransactionRecord& record, const Bytes& answer,
                                CardOutcome& outcome) {
  const LanguageTexts& texts = record.Texts();
  const auto verdict = [&](bool ok) {
    lastVerification_ = ok;
    record.Monitor().MonitorWriteLine("\t" + texts.LangText(32) + ": " +
                                      texts.LangText(ok ? 34 : 33));
    outcome.receipt.colour = ok ? kReceiptVerified : kReceiptFailed;
  };
  Result<Bytes> command =
      BuildVerifyRecord(record.VerifyBuffer().View(), record.ContainerMark(), answer);
  if (!command) {
    verdict(false);
    outcome.error = command.error();
    return;
  }
  if (switches_.checkManVer && hold_ != nullptr) {
    *command = hold_->HoldForDebug(std::move(*command));
    hold_->HideConsole();
  }
  record.Monitor().MonitorWriteLine("\t" + texts.LangText(31) + ": " + CommandText(*command));
  card_.MonitorLabel("VERIFY SIGNATURE", kLabelBlue);
  const Result<CardAnswer> reply = card_.Send(*command);
  const bool ok = reply && reply->Accepted();
  verdict(ok);
  if (!ok) outcome.error = MakeError(ErrorKind::kCard, protocol_msg::kSignatureNotConfirmed);
}

}  // namespace kasse
