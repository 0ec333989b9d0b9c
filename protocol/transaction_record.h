#pragma once
// The transaction record: the TLV command the card signs (CommandBuffer), the data of the later
// VERIFY SIGNATURE command built beside it (VerifyBuffer), the readable fields for the L file of
// the journal, the function monitor lines and the date, time and operator lines of the receipt
// (ResponseReceiptText). The report commands use the same builders from BeginRecord on.
//
// Journal writes are collected while a record is built and only carried out by CommitJournal, so
// a record that does not fit its buffers leaves no trace in the journal. BuildTransaction does that
// itself; report builders call CommitJournal once their record is known to fit. Owned by the
// controller; user-interface thread only.

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/app_clock.h"
#include "common/language_texts.h"
#include "common/result.h"
#include "common/sha.h"
#include "journal/journal.h"
#include "monitor/function_monitor.h"
#include "protocol/card_outcome.h"
#include "protocol/item_list.h"
#include "protocol/record_buffer.h"
#include "protocol/vat_container.h"

namespace kasse {

class TransactionRecord;

// The signing exchange with the card: sends the finished record, journals its answer and says
// what the answer adds to the receipt.
class TransactionSigner {
 public:
  virtual ~TransactionSigner() = default;
  virtual CardOutcome SignTransaction(TransactionRecord& record) = 0;
};

// In the order the flags stand in a record (C9, CA, D7).
enum class RecordFlag { kVatAddon = 0, kTraining = 1, kDeliverynote = 2 };

// The flags a record carries; kVatAddon: prices are net (IsExclusiveTax).
class RecordFlags {
 public:
  constexpr RecordFlags() = default;
  constexpr RecordFlags(std::initializer_list<RecordFlag> flags) {
    for (RecordFlag flag : flags)
      Set(flag, true);
  }
  constexpr RecordFlags& Set(RecordFlag flag, bool on) {
    const unsigned bit = 1u << static_cast<unsigned>(flag);
    bits_ = on ? bits_ | bit : bits_ & ~bit;
    return *this;
  }
  constexpr bool Has(RecordFlag flag) const {
    return (bits_ >> static_cast<unsigned>(flag) & 1u) != 0;
  }
  friend constexpr bool operator==(RecordFlags, RecordFlags) = default;

 private:
  unsigned bits_ = 0;
};

struct TransactionInput {
  RecordFlags flags;
  std::optional<std::string> operatorName;  // ActiveOperatorName(); nothing when none is given
  int versionLevel = 0;                     // 0 when the card's version is not recognised
};

class TransactionRecord {
 public:
  TransactionRecord(FunctionMonitor& monitor, const LanguageTexts& texts, Journal& journal,
                    const AppClock& clock);
  // The collected journal steps point back at this object.
  TransactionRecord(const TransactionRecord&) = delete;
  TransactionRecord& operator=(const TransactionRecord&) = delete;

  void BeginRecord();
  Result<void> AddDateField();
  Result<void> AddTimeField();
  Result<void> AddOperatorField(std::optional<std::string_view> name);
  // itemListText is the item list closed with "</itemList>"; it lands in the L file before
  // the hash.
  void AddItemHashField(std::string_view itemListText, const Sha1Digest& hash);
  void AddCurrencyField();
  void AddFlagField(RecordFlag kind);
  // Amounts are decimal texts of whole cents; thirdParty only when hasThirdParty is set.
  Result<void> AddVatContainer(int container, std::string_view turnover,
                               std::string_view turnoverNeg, std::string_view vat,
                               std::string_view rateText,
                               std::optional<std::string_view> thirdParty);
  Result<void> AddAgencyContainer(std::string_view turnover);
  Result<void> AddDeliveryNoteContainer(std::string_view turnover);
  void FinishRecord();

  // The whole cash-in: the record, its journal text and then the signing exchange, whose
  // outcome carries the item list's hash besides. Refused, with nothing sent or journalled,
  // when the record would not fit 250 data bytes; without a signer the record is only built
  // and journalled.
  CardOutcome BuildTransaction(const TransactionInput& input, ItemList& items,
                               const VatContainers& containers, CardHasher* cardHasher,
                               TransactionSigner* signer);

  // True while neither buffer has refused a byte since BeginRecord.
  bool Fits() const { return !commandBuffer_.Overflowed() && !verifyBuffer_.Overflowed(); }
  // Journal text waiting for CommitJournal (targets, section and text, in order).
  void QueueJournal(int targets, JournalSection section, std::string text);
  Result<void> CommitJournal();
  void DiscardJournal() { deferred_.clear(); }

  void SetVersionLevel(int level) { versionLevel_ = level; }
  RecordBuffer& CommandBuffer() { return commandBuffer_; }
  RecordBuffer& VerifyBuffer() { return verifyBuffer_; }
  const RecordBuffer& CommandBuffer() const { return commandBuffer_; }
  const RecordBuffer& VerifyBuffer() const { return verifyBuffer_; }
  ByteSpan CommandBufferView() const { return commandBuffer_.View(); }
  std::uint8_t ContainerMark() const { return containerMark_; }
  const std::string& ResponseReceiptText() const { return responseReceiptText_; }
  void AppendResponseText(std::string_view text) { responseReceiptText_ += text; }
  FunctionMonitor& Monitor() { return monitor_; }
  const LanguageTexts& Texts() const { return texts_; }
  Journal& JournalFiles() { return journal_; }

 private:
  void PutBoth(Byte byte);
  void PutBoth(ByteSpan bytes);
  // The record's date and time, read from the clock once: a record begun at 23:59:59.9 must
  // not get the date of one day and the time of the next.
  const AppStamp& RecordStamp();
  void AddContainerStep(const VatContainers& containers);
  Result<void> AddTurnoverContainer(Byte tag, std::string_view turnover, std::string_view element);
  // A child of a VAT container, mirrored into both buffers.
  Result<void> AddPackedAmount(Byte tag, std::string_view amount, std::string_view element);

  FunctionMonitor& monitor_;
  const LanguageTexts& texts_;
  Journal& journal_;
  const AppClock& clock_;
  std::optional<AppStamp> stamp_;
  RecordBuffer commandBuffer_, verifyBuffer_;
  std::uint8_t containerMark_ = 0;
  std::string responseReceiptText_;
  int versionLevel_ = 0;
  std::vector<std::function<Result<void>()>> deferred_;
};

}  // namespace kasse
