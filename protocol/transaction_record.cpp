#include "protocol/transaction_record.h"

#include "common/amount.h"
#include "common/card_commands.h"
#include "common/card_tags.h"
#include "common/hex_text.h"
#include "common/packed.h"
#include "journal/xml_text.h"

namespace kasse {
namespace {

// Language texts of the record's monitor and receipt lines.
constexpr int kTextDate = 25, kTextTime = 26, kTextOperator = 27, kTextCurrency = 28;
constexpr int kTextVatAddon = 29, kTextTraining = 30, kTextDeliverynote = 82;

ByteSpan Span(std::string_view text) {
  return ByteSpan(reinterpret_cast<const Byte*>(text.data()), text.size());
}

}  // namespace

TransactionRecord::TransactionRecord(FunctionMonitor& monitor, const LanguageTexts& texts,
                                     Journal& journal, const AppClock& clock)
    : monitor_(monitor), texts_(texts), journal_(journal), clock_(clock) {
  commandBuffer_.Begin(cmd::kTransaction);
  verifyBuffer_.Begin(cmd::kVerifySignature);
}

void TransactionRecord::PutBoth(Byte byte) {
  commandBuffer_.Put(byte);
  verifyBuffer_.Put(byte);
}

void TransactionRecord::PutBoth(ByteSpan bytes) {
  for (const Byte byte : bytes)
    PutBoth(byte);
}

void TransactionRecord::QueueJournal(int targets, JournalSection section, std::string text) {
  deferred_.push_back([this, targets, section, text = std::move(text)]() {
    return journal_.JournalWrite(targets, section, text);
  });
}

Result<void> TransactionRecord::CommitJournal() {
  auto pending = std::move(deferred_);
  deferred_.clear();
  journal_.MarkRecordStart();
  // All steps run even after a failure: the journal keeps what it could not write in order,
  // and a record missing a middle part would be malformed once that is written out.
  Result<void> result;
  for (auto& step : pending) {
    Result<void> done = step();
    if (result) result = done;
  }
  return result;
}

void TransactionRecord::BeginRecord() {
  commandBuffer_.Begin(cmd::kTransaction);
  verifyBuffer_.Begin(cmd::kVerifySignature);
  containerMark_ = 0;
  responseReceiptText_.clear();
  deferred_.clear();
  stamp_.reset();
}

const AppStamp& TransactionRecord::RecordStamp() {
  if (!stamp_) stamp_ = clock_.Stamp();
  return *stamp_;
}

Result<void> TransactionRecord::AddDateField() {
  PutBoth(tag::kDate);
  PutBoth(0x04);
  const ClockField& date = RecordStamp().date;
  if (date.packed.size() != 4 || date.text.size() != 8)
    return MakeError(ErrorKind::kUnusableInput, "the clock gave no usable date");
  monitor_.MonitorWriteLine("\t" + texts_.LangText(kTextDate) + ": " + date.text);
  PutBoth(date.packed);
  const std::string shown =
      date.text.substr(0, 4) + "-" + date.text.substr(4, 2) + "-" + date.text.substr(6, 2);
  responseReceiptText_ += "\r\n" + texts_.LangText(kTextDate) + ": \t\t" + shown;
  QueueJournal(kJournalL, JournalSection::kRecord, "<date>" + date.text + "</date>");
  return {};
}

Result<void> TransactionRecord::AddTimeField() {
  PutBoth(tag::kTime);
  PutBoth(0x02);
  const ClockField& time = RecordStamp().time;
  if (time.packed.size() != 2 || time.text.size() != 4)
    return MakeError(ErrorKind::kUnusableInput, "the clock gave no usable time");
  monitor_.MonitorWriteLine("\t" + texts_.LangText(kTextTime) + ": " + time.text);
  PutBoth(time.packed);
  const std::string shown = time.text.substr(0, 2) + ":" + time.text.substr(2, 2);
  responseReceiptText_ += "\r\n" + texts_.LangText(kTextTime) + ": \t\t" + shown;
  QueueJournal(kJournalL, JournalSection::kRecord, "<time>" + time.text + "</time>");
  return {};
}

Result<void> TransactionRecord::AddOperatorField(std::optional<std::string_view> name) {
  if (!name) return MakeError(ErrorKind::kMissingInput, "no operator given");
  const std::string cleaned = CleanIdentifier(*name);
  if (cleaned.empty())
    return MakeError(ErrorKind::kUnusableInput, "the operator name has no usable character");
  monitor_.MonitorWriteLine("\t" + texts_.LangText(kTextOperator) + ": " + cleaned);
  PutBoth(tag::kOperator);
  PutBoth(static_cast<Byte>(cleaned.size()));
  PutBoth(Span(cleaned));
  responseReceiptText_ += "\r\n" + texts_.LangText(kTextOperator) + ": \t" + std::string(*name);
  QueueJournal(kJournalL, JournalSection::kRecord,
               "<operatorId>" + XmlEscape(*name) + "</operatorId>");
  return {};
}

void TransactionRecord::AddItemHashField(std::string_view itemListText, const Sha1Digest& hash) {
  deferred_.push_back([this, text = std::string(itemListText), hash]() {
    return journal_.WriteItemHash(text, hash);
  });
  PutBoth(tag::kItemHash);
  PutBoth(0x14);
  PutBoth(hash);
}

void TransactionRecord::AddCurrencyField() {
  commandBuffer_.Put(tag::kCurrency);
  commandBuffer_.Put(0x02);
  monitor_.MonitorWriteLine("\t" + texts_.LangText(kTextCurrency) + ": 03 D2");
  commandBuffer_.Put(0x03);
  commandBuffer_.Put(0xD2);
  QueueJournal(kJournalL, JournalSection::kRecord, "<currency>0978</currency>");
}

void TransactionRecord::AddFlagField(RecordFlag kind) {
  struct FlagForm {
    Byte tag;
    int text;
    const char* journal;
  };
  static constexpr FlagForm kForms[] = {
      {tag::kVatAddon, kTextVatAddon, "<vatAddon/>"},
      {tag::kTraining, kTextTraining, "<training/>"},
      {tag::kDeliveryNote, kTextDeliverynote, "<deliverynote/>"},
  };
  const FlagForm& form = kForms[static_cast<std::size_t>(kind)];
  monitor_.MonitorWriteLine("\t" + texts_.LangText(form.text));
  PutBoth(form.tag);
  PutBoth(0x00);
  responseReceiptText_ += "\r\n" + texts_.LangText(form.text) + " ";
  QueueJournal(kJournalL, JournalSection::kRecord, form.journal);
}

void TransactionRecord::FinishRecord() {
  commandBuffer_.FinishRecord();
}

}  // namespace kasse
