#include "protocol/reports.h"

#include "common/base_n.h"
#include "common/card_commands.h"
#include "common/card_tags.h"
#include "common/hex_text.h"
#include "protocol/late_answer.h"
#include "protocol/protocol_messages.h"

namespace kasse {
namespace {

// The first `count` bytes of the command buffer.
Bytes FirstBytes(const RecordBuffer& buffer, std::size_t count) {
  return Bytes(buffer.Raw().begin(), buffer.Raw().begin() + static_cast<std::ptrdiff_t>(count));
}

Result<void> WriteS(TransactionRecord& record, std::string_view text) {
  return record.JournalFiles().JournalWrite(kJournalS, JournalSection::kRecord, text);
}

Result<void> WriteL(TransactionRecord& record, std::string_view text) {
  return record.JournalFiles().JournalWrite(kJournalL, JournalSection::kRecord, text);
}

bool IsPin(const std::string& pin) {
  if (pin.size() != 6) return false;
  for (char c : pin)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

void Reports::Start(const std::string& title) {
  record_.BeginRecord();
  record_.AppendResponseText(title);
  record_.QueueJournal(kJournalL, JournalSection::kRecord, "<report>");
  (void)record_.AddDateField();
  (void)record_.AddTimeField();
}

CardOutcome Reports::Send(const Kind& kind, Bytes command, std::size_t requestLength) {
  RecordBuffer& buffer = record_.CommandBuffer();
  buffer.SetHeader(kind.header);
  buffer.Set(4, kind.lc);
  // What the journal could not write is held in memory and retried by the request's write,
  // which closes the record either way.
  (void)record_.CommitJournal();
  if (command.empty()) command = FirstBytes(buffer, requestLength);

  // The request: header and Le left out; the PIN never reaches it. It is on the disk before
  // the card can sign the report.
  const ByteSpan request = ByteSpan(buffer.Raw()).subspan(5, requestLength - 6);
  Result<void> journalled = WriteS(
      record_, "<reportEncoded><reportRequest>" + Base64Encode(request) + "</reportRequest>");
  if (journalled) journalled = record_.JournalFiles().Sync(kJournalS);
  if (!journalled) {
    (void)WriteS(record_, "</reportEncoded>");
    (void)WriteL(record_, "</report>");
    (void)record_.JournalFiles().Flush();
    // The register words it for the operator (what happened to the report, and the advice).
    CardOutcome notSent = NotSent(journalled.error(), journalled.error());
    notSent.heading = kind.heading;
    return notSent;
  }
  card_.MonitorLabel(kind.heading, kLabelBlue);
  const Result<CardAnswer> reply = card_.SendKeepingLateAnswer(
      command, JournalLateAnswer(record_.JournalFiles(), "report", request));
  const bool ok = reply && reply->Accepted();
  lastResponse_ = ok ? reply->data : Bytes();
  CardOutcome outcome;
  outcome.heading = kind.heading;
  outcome.stage = ok ? CardStage::kSigned : CardStage::kRefused;
  if (ok && !lastResponse_.empty() && Rejected(lastResponse_, request, outcome)) {
    (void)WriteL(record_, "</report>");
    (void)record_.JournalFiles().Sync(kJournalBoth);  // a failure stays held and is retried
    return outcome;
  }
  if (ok && !lastResponse_.empty()) {
    ParseReportResponse(lastResponse_, request, outcome);
  } else {
    // A status word is a refusal (nothing signed); none at all is a request without an answer.
    if (reply && !ok)
      (void)WriteS(record_,
                   "<reportRefused>" + StatusWordText(reply->statusWord) + "</reportRefused>");
    (void)WriteS(record_, "</reportEncoded>");
  }
  (void)WriteL(record_, "</report>");
  if (!ok) (void)record_.JournalFiles().Flush();  // no sync below: a failure stays held
  if (!reply && reply.error().kind == ErrorKind::kBusy) {
    outcome.stage = CardStage::kUnanswered;
    outcome.error = MakeError(ErrorKind::kCard, protocol_msg::kCardStoppedReport, {kind.heading});
    return outcome;
  }
  if (!ok) {
    outcome.error = MakeError(ErrorKind::kCard, protocol_msg::kCardRefusedReport, {kind.heading});
    return outcome;
  }
  if (auto synced = record_.JournalFiles().Sync(kJournalBoth); !synced) {
    outcome.recordsHeld = true;
    outcome.error = synced.error();
    outcome.journalFailure = synced.error();
  }
  return outcome;
}

bool Reports::Rejected(const Bytes& answer, ByteSpan request, CardOutcome& outcome) {
  const std::optional<ReportNumber> number = ReadReportNumber(answer);
  if (guard_ == nullptr || !number) return false;
  if (auto fresh = guard_->Check(NumberKind::kReport, number->tpId, number->tpIdNo, number->number);
      !fresh) {
    (void)WriteS(record_,
                 "<reportRejected>" + Base64Encode(answer) + "</reportRejected></reportEncoded>");
    record_.Monitor().MonitorWriteLine("\t" + fresh.error().English());
    outcome.stage = CardStage::kRejected;
    outcome.error = fresh.error();
    return true;
  }
  const std::string date =
      request.size() >= 6 && request[0] == tag::kDate ? HexCompact(request.subspan(2, 4)) : "";
  guard_->Journalled(NumberKind::kReport, number->tpId, number->tpIdNo, number->number, date);
  return false;
}

void Reports::ParseReportResponse(const Bytes& answer, ByteSpan request, CardOutcome& outcome) {
  const LanguageTexts& texts = record_.Texts();
  (void)WriteS(record_,
               "<reportResponse>" + Base64Encode(answer) + "</reportResponse></reportEncoded>");
  record_.Monitor().MonitorWriteLine("\t" + texts.LangText(32) + ": " + HexCompact(answer));
  const ReportAnswer decoded = ReadReportAnswer(answer, texts);
  for (const std::string& write : decoded.journalWrites)
    (void)WriteL(record_, write);
  if (decoded.problem)
    record_.Monitor().MonitorWriteLine("\t" + decoded.problem->English() + " (byte " +
                                       std::to_string(decoded.problem->offset) + ")");
  record_.AppendResponseText(decoded.receiptText);
  outcome.receipt.responseText = record_.ResponseReceiptText();
  outcome.receipt.signatureAlways = true;
  outcome.receipt.signature = decoded.signature.value_or(Bytes());
  if (decoded.signature) (void)WriteL(record_, "<sig>" + HexCompact(*decoded.signature) + "</sig>");
  outcome.receipt.qrPayload.assign(request.begin(), request.end());
  outcome.receipt.qrPayload.insert(outcome.receipt.qrPayload.end(), answer.begin(), answer.end());
}

CardOutcome Reports::DailyClosing(ClosingKind kind) {
  const bool signedClosing = kind == ClosingKind::kSigned;
  const std::string title = record_.Texts().LangText(36);
  record_.Monitor().MonitorWriteLine("\r\n" + title);
  Start("\r\n" + title + " ");
  return Send({signedClosing ? cmd::kReportSigned : cmd::kReportUnsigned, 0x0A,
               signedClosing ? "REPORT signed" : "REPORT unsigned"},
              {}, 16);
}

CardOutcome Reports::SpanReport(ByteSpan firstMonth, ByteSpan lastMonth) {
  if (firstMonth.size() != 3 || lastMonth.size() != 3)
    return NotSent(MakeError(ErrorKind::kUnusableInput, protocol_msg::kMonthPacked));
  const LanguageTexts& texts = record_.Texts();
  const std::string title = "\r\n" + texts.LangText(37) + " " + HexCompact(firstMonth) + " " +
                            texts.LangText(38) + " " + HexCompact(lastMonth);
  record_.Monitor().MonitorWriteLine(title);
  Start(title);
  RecordBuffer& buffer = record_.CommandBuffer();
  buffer.Put(Bytes{tag::kFirstMonth, 0x03});
  buffer.Put(firstMonth);
  buffer.Put(Bytes{tag::kLastMonth, 0x03});
  buffer.Put(lastMonth);
  return Send({cmd::kReportSpan, 0x14, "REPORT Span"}, {}, 26);
}

CardOutcome Reports::ActivateCard(const std::string& pin) {
  const LanguageTexts& texts = record_.Texts();
  if (!IsPin(pin)) {
    dialog_.ShowMessage(texts.LangText(70), texts.LangText(71));
    return NotSent(MakeError(ErrorKind::kUnusableInput, protocol_msg::kPinSixDigits));
  }
  record_.Monitor().MonitorWriteLine("\r\n" + texts.LangText(36));
  Start("\r\n" + texts.LangText(36) + " ");
  // The PIN goes into the command only, never into the buffer the request is taken from.
  const Kind activate{cmd::kReportActivate, 0x12, "REPORT QOR Activate"};
  RecordBuffer& buffer = record_.CommandBuffer();
  buffer.SetHeader(activate.header);  // the header as Send sets it, before the command is taken
  buffer.Set(4, activate.lc);
  Bytes command = FirstBytes(buffer, 15);
  command.push_back(tag::kPin);
  command.push_back(static_cast<Byte>(pin.size()));
  command.insert(command.end(), pin.begin(), pin.end());
  command.push_back(cmd::kLeAll);
  CardOutcome sent = Send(activate, std::move(command), 16);
  if (sent.error) dialog_.ShowMessage(texts.LangText(70), texts.LangText(71));
  return sent;
}

CardOutcome Reports::DeactivateCard() {
  const LanguageTexts& texts = record_.Texts();
  if (!dialog_.Confirm(texts.LangText(72), texts.LangText(73)) ||
      !dialog_.Confirm(texts.LangText(74), texts.LangText(73)))
    return NotSent(MakeError(ErrorKind::kMissingInput, protocol_msg::kDeactivationDeclined));
  record_.Monitor().MonitorWriteLine("\r\n" + texts.LangText(36));
  Start("\r\nTagesabschluss ");
  return Send({cmd::kReportDeactivate, 0x0A, "REPORT QOR Deactivate"}, {}, 16);
}

Result<BookedMonths> Reports::ReadBookedMonths() {
  card_.MonitorLabel("GET DATA Booked Months", kLabelBlue);
  Bytes command = CommandBytes(cmd::kGetBookedMonths);
  command.push_back(cmd::kLeAll);
  const Result<CardAnswer> reply = card_.Send(command);
  lastResponse_ = reply && reply->Accepted() ? reply->data : Bytes();
  if (reply && reply->statusWord == cmd::kStatusMonthsBeyondOneAnswer)
    return MakeError(ErrorKind::kCard, protocol_msg::kMonthsBeyondOneAnswer);
  if (lastResponse_.empty()) return MakeError(ErrorKind::kCard, protocol_msg::kNoBookedMonths);
  return kasse::ReadBookedMonths(lastResponse_);
}

}  // namespace kasse
