#include "protocol/sign_transaction.h"

#include "common/base_n.h"
#include "common/hex_text.h"
#include "journal/xml_text.h"
#include "protocol/card_answers.h"
#include "protocol/late_answer.h"

namespace kasse {
namespace {

// TRANSACTION as pairs each followed by a blank, the Le byte 00 included.
std::string TransactionText(const RecordBuffer& buffer) {
  std::string text;
  for (std::size_t i = 0; i <= buffer.Length(); ++i)
    text += HexWritten(ByteSpan(&buffer.Raw()[i], 1)) + " ";
  return text;
}

Result<void> Write(TransactionRecord& record, int targets, std::string_view text) {
  return record.JournalFiles().JournalWrite(targets, JournalSection::kRecord, text);
}

}  // namespace

std::string TransactionSigning::Hold(std::string text, bool wanted) {
  if (!wanted || hold_ == nullptr) return text;
  return hold_->HoldForDebug(std::move(text));
}

Result<void> TransactionSigning::Fail(TransactionRecord& record, std::string reason) {
  const LanguageTexts& texts = record.Texts();
  record.Monitor().MonitorWriteLine("\t" + texts.LangText(32) + ": " + texts.LangText(33));
  receipt_.SetReceiptColour(kReceiptFailed);
  receipt_.QRReset();
  (void)Write(record, kJournalS, "</transactionEncoded>");
  (void)Write(record, kJournalL, "</transaction>");
  return MakeError(ErrorKind::kCard, std::move(reason));
}

Result<void> TransactionSigning::SignTransaction(TransactionRecord& record) {
  lastVerification_.reset();
  lastUnanswered_ = false;
  const LanguageTexts& texts = record.Texts();
  const RecordBuffer& command = record.CommandBuffer();
  const std::string text = Hold(TransactionText(command), switches_.checkTrans);
  record.Monitor().MonitorWriteLine("\t" + texts.LangText(31) + ": " + text);

  // The request is on the disk before the card can sign it: a power cut then leaves at least
  // the request beside every number the card gave out.
  const ByteSpan data = command.View().subspan(RecordBuffer::kHeaderSize);
  if (auto journalled = JournalRequest(record, data); !journalled) {
    (void)Write(record, kJournalS, "</transactionEncoded>");
    (void)Write(record, kJournalL, "</transaction>");
    return MakeError(ErrorKind::kIo,
                     "The sale is not signed: its request cannot be written to "
                     "the journal (" +
                         journalled.error().message +
                         "). Free space on the disk and cash in again.");
  }

  card_.MonitorLabel("TRANSACTION", kLabelBlue);
  ++commandsSent_;
  const Result<CardAnswer> reply = card_.SendKeepingLateAnswer(
      text, JournalLateAnswer(record.JournalFiles(), "transaction", data));
  if (!reply && reply.error().kind == ErrorKind::kBusy) {
    lastUnanswered_ = true;
    return Fail(record, "the card stopped answering: the sale is not cashed in");
  }
  if (!reply || !reply->Accepted()) {
    // A status word is a refusal (nothing signed); none at all is a request without an answer.
    if (reply)
      (void)Write(record, kJournalS,
                  "<transactionRefused>" + reply->statusWord + "</transactionRefused>");
    return Fail(record, "the card did not sign the transaction");
  }

  const Bytes answer = HexParse(StripBlanks(reply->data));
  Result<void> journalled = JournalResponse(record, answer);
  // Before the receipt is shown: a signed sale exists on the disk or the operator is told.
  if (auto synced = record.JournalFiles().Sync(kJournalBoth); !synced)
    return MakeError(ErrorKind::kIo,
                     "The sale is signed, but its journal record could not be "
                     "written (" +
                         synced.error().message +
                         "). The register keeps it and writes it before the next "
                         "sale; free space on the disk.");
  if (!journalled) return journalled;
  if (switches_.checkVer) return Verify(record, answer);
  return {};
}

Result<void> TransactionSigning::JournalRequest(TransactionRecord& record, ByteSpan data) {
  receipt_.QRAppend(data);
  lastRequestBase64_ = Base64Encode(data);
  Result<void> written = Write(
      record, kJournalS, "<transactionRequest>" + lastRequestBase64_ + "</transactionRequest>");
  Result<void> synced = record.JournalFiles().Sync(kJournalS);
  return written ? synced : written;
}

Result<void> TransactionSigning::JournalResponse(TransactionRecord& record, const Bytes& answer) {
  const LanguageTexts& texts = record.Texts();
  lastResponseBase64_ = Base64Encode(answer);
  (void)Write(record, kJournalS,
              "<transactionResponse>" + lastResponseBase64_ +
                  "</transactionResponse></transactionEncoded>");
  record.Monitor().MonitorWriteLine("\t" + texts.LangText(32) + ": " + HexCompact(answer));
  auto read = ReadTransactionAnswer(answer);
  if (!read) {
    receipt_.SetReceiptColour(kReceiptFailed);
    receipt_.QRReset();
    (void)Write(record, kJournalL, "</transaction>");
    return MakeError(ErrorKind::kCard, "the card's answer cannot be read: " + read.error().message,
                     read.error().offset);
  }
  receipt_.QRAppend(answer);
  std::string l = "<tpId>" + XmlEscape(read->tpId) + "</tpId>";
  l += "<tpIdNo>" + std::to_string(read->tpIdNo) + "</tpIdNo>";
  l += "<seqNoTransaction>" + std::to_string(read->seqNo) + "</seqNoTransaction>";
  l += "<sig>" + HexCompact(read->signature) + "</sig>";
  if (read->debugHash)
    l += "<debugHashTransaction>" + HexCompact(*read->debugHash) + "</debugHashTransaction>";
  l += "</transaction>";
  // A failed write is held by the journal; the sync that follows tells.
  (void)Write(record, kJournalL, l);
  record.AppendResponseText("\r\n" + texts.LangText(42) + ": \t" + read->tpId);
  record.AppendResponseText("\r\n" + texts.LangText(43) + ": " + std::to_string(read->tpIdNo));
  record.AppendResponseText("\r\n" + texts.LangText(46) + ": " + std::to_string(read->seqNo));
  receipt_.AppendSignatureText(read->signature, false);
  if (record.JournalFiles().PendingL().size() > 20000) (void)record.JournalFiles().ExportFlush();
  return {};
}

Result<void> TransactionSigning::Verify(TransactionRecord& record, const Bytes& answer) {
  const LanguageTexts& texts = record.Texts();
  const auto verdict = [&](bool ok) {
    lastVerification_ = ok;
    record.Monitor().MonitorWriteLine("\t" + texts.LangText(32) + ": " +
                                      texts.LangText(ok ? 34 : 33));
    receipt_.SetReceiptColour(ok ? kReceiptVerified : kReceiptFailed);
  };
  auto command = BuildVerifyRecord(record.VerifyBuffer().View(), record.ContainerMark(), answer);
  if (!command) {
    verdict(false);
    return command.error();
  }
  std::string text = HexCompact(*command);
  if (switches_.checkManVer && hold_ != nullptr) {
    text = hold_->HoldForDebug(std::move(text));
    hold_->HideConsole();
  }
  record.Monitor().MonitorWriteLine("\t" + texts.LangText(31) + ": " + text);
  card_.MonitorLabel("VERIFY SIGNATURE", kLabelBlue);
  const Result<CardAnswer> reply = card_.SendHex(text);
  const bool ok = reply && reply->Accepted();
  verdict(ok);
  if (!ok) return MakeError(ErrorKind::kCard, "the card did not confirm the signature");
  return {};
}

}  // namespace kasse
