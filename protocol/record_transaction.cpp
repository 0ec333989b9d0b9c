// The VAT containers of the transaction record and the cash-in that builds the whole record.

#include "common/amount.h"
#include "common/base_n.h"
#include "common/card_tags.h"
#include "common/hex_text.h"
#include "common/packed.h"
#include "protocol/protocol_messages.h"
#include "protocol/transaction_record.h"

namespace kasse {
namespace {

constexpr int kTextBuildTransaction = 35;

// The packed rate as the L file shows it: BCD digits, at least four (1900, 0700, 0050).
std::string RateDigits(ByteSpan packed) {
  std::string digits = HexCompact(packed);
  while (digits.size() < 4)
    digits.insert(digits.begin(), '0');
  return digits;
}

Error NotCents(std::string_view element) {
  return MakeError(ErrorKind::kMalformed, std::string(element) + ": not a whole number of cents");
}

}  // namespace

Result<void> TransactionRecord::AddPackedAmount(Byte tag, std::string_view amount,
                                                std::string_view element) {
  const Result<std::int64_t> cents = ParseInteger(amount);
  if (!cents) return NotCents(element);
  const Bytes packed = PackSignedAmount(*cents);
  const Byte header[] = {tag, static_cast<Byte>(packed.size())};
  PutBoth(header);
  PutBoth(packed);
  const std::string name(element);
  QueueJournal(kJournalL, JournalSection::kRecord,
               "<" + name + ">" + std::string(amount) + "</" + name + ">");
  return {};
}

Result<void> TransactionRecord::AddVatContainer(int container, std::string_view turnover,
                                                std::string_view turnoverNeg, std::string_view vat,
                                                std::string_view rateText,
                                                std::optional<std::string_view> thirdParty) {
  const Result<std::int64_t> turnoverCents = ParseInteger(turnover);
  const Result<std::int64_t> negCents = ParseInteger(turnoverNeg);
  if (container < 1 || container > 6 || !turnoverCents || !negCents || !ParseInteger(vat) ||
      (thirdParty && !ParseInteger(*thirdParty)))
    return MakeError(ErrorKind::kUnusableInput, "not a VAT container of whole cents");
  if (*turnoverCents == 0 && *negCents == 0) return {};
  const std::string number = std::to_string(container);
  QueueJournal(kJournalL, JournalSection::kRecord, "<containerVat" + number + ">");
  // The first container marks where the signing step inserts the card's sequence number.
  if (containerMark_ == 0) containerMark_ = verifyBuffer_.Length();
  PutBoth(tag::VatContainer(container));
  PutBoth(0x00);
  const std::size_t commandStart = commandBuffer_.Length();
  const std::size_t verifyStart = verifyBuffer_.Length();
  (void)AddPackedAmount(tag::kTurnover, turnover, "turnover");
  if (*negCents != 0) (void)AddPackedAmount(tag::kTurnoverNeg, turnoverNeg, "turnoverNeg");
  (void)AddPackedAmount(tag::kVat, vat, "vat");
  const Bytes rate = PackRate(rateText);
  PutBoth(tag::kRate);
  QueueJournal(kJournalL, JournalSection::kRecord, "<vatRate>" + RateDigits(rate) + "</vatRate>");
  PutBoth(static_cast<Byte>(rate.size()));
  PutBoth(rate);
  if (versionLevel_ >= 2 && thirdParty)
    (void)AddPackedAmount(tag::kTurnoverThirdParty, *thirdParty, "turnoverthirdparty");
  commandBuffer_.Set(commandStart - 1, static_cast<Byte>(commandBuffer_.Length() - commandStart));
  verifyBuffer_.Set(verifyStart - 1, static_cast<Byte>(verifyBuffer_.Length() - verifyStart));
  QueueJournal(kJournalL, JournalSection::kRecord, "</containerVat" + number + ">");
  return {};
}

Result<void> TransactionRecord::AddAgencyContainer(std::string_view turnover) {
  return AddTurnoverContainer(tag::kThirdPartyContainer, turnover, "containerThirdparty");
}

Result<void> TransactionRecord::AddDeliveryNoteContainer(std::string_view turnover) {
  return AddTurnoverContainer(tag::kDeliveryNoteContainer, turnover, "containerDeliverynote");
}

Result<void> TransactionRecord::AddTurnoverContainer(Byte tag, std::string_view turnover,
                                                     std::string_view element) {
  const Result<std::int64_t> parsed = ParseInteger(turnover);
  if (!parsed) return NotCents(element);
  const std::int64_t cents = *parsed;
  if (cents == 0) return {};
  commandBuffer_.Put(tag);
  commandBuffer_.Put(0x00);
  const std::size_t start = commandBuffer_.Length();
  const std::string name(element);
  QueueJournal(kJournalL, JournalSection::kRecord,
               "<" + name + "><turnover>" + std::string(turnover) + "</turnover></" + name + ">");
  const Bytes packed = PackSignedAmount(cents);
  commandBuffer_.Put(tag::kTurnover);
  commandBuffer_.Put(static_cast<Byte>(packed.size()));
  commandBuffer_.Put(packed);
  commandBuffer_.Set(start - 1, static_cast<Byte>(commandBuffer_.Length() - start));
  return {};
}

void TransactionRecord::AddContainerStep(const VatContainers& containers) {
  for (int c = 1; c <= 6; ++c) {
    const VatContainer& box = containers[c];
    const std::string thirdParty = CentsText(RoundCommercial(box.turnoverThirdParty));
    (void)AddVatContainer(
        c, CentsText(RoundCommercial(box.turnover)), CentsText(RoundCommercial(box.turnoverNeg)),
        CentsText(RoundCommercial(box.vat)), RateText(box.rate),
        box.hasThirdParty != 0 ? std::optional<std::string_view>(thirdParty) : std::nullopt);
  }
  if (versionLevel_ == 1) {
    (void)AddAgencyContainer(CentsText(RoundCommercial(containers[7].turnover)));
    (void)AddDeliveryNoteContainer(CentsText(RoundCommercial(containers[8].turnover)));
  }
}

CardOutcome TransactionRecord::BuildTransaction(const TransactionInput& input, ItemList& items,
                                                const VatContainers& containers,
                                                CardHasher* cardHasher, TransactionSigner* signer) {
  // A refused record leaves the sale totalled; a second attempt must not close the list twice.
  if (!items.ItemListText().ends_with("</itemList>")) items.AppendText("</itemList>");
  monitor_.MonitorWriteLine(texts_.LangText(kTextBuildTransaction));
  versionLevel_ = input.versionLevel;
  BeginRecord();
  QueueJournal(kJournalL, JournalSection::kRecord, "<transaction>");
  (void)AddDateField();
  (void)AddTimeField();
  (void)AddOperatorField(input.operatorName ? std::optional<std::string_view>(*input.operatorName)
                                            : std::nullopt);
  const Sha1Digest hash = items.HashItemList(cardHasher);
  QueueJournal(kJournalS, JournalSection::kRecord, "<transactionEncoded><itemListEncoded>");
  QueueJournal(kJournalS, JournalSection::kRecord, Base64Encode(items.ItemListBytes()));
  QueueJournal(kJournalS, JournalSection::kRecord, "</itemListEncoded>");
  AddItemHashField(items.ItemListText(), hash);
  AddCurrencyField();
  if (input.flags.Has(RecordFlag::kVatAddon)) AddFlagField(RecordFlag::kVatAddon);
  if (input.flags.Has(RecordFlag::kTraining)) AddFlagField(RecordFlag::kTraining);
  if (versionLevel_ >= 2 && (containers[8].turnover != 0.0 || containers[8].turnoverNeg != 0.0))
    AddFlagField(RecordFlag::kDeliverynote);
  AddContainerStep(containers);
  FinishRecord();
  if (!Fits()) {
    DiscardJournal();
    responseReceiptText_.clear();
    return NotSent(MakeError(ErrorKind::kTooLong, protocol_msg::kRecordTooLarge));
  }
  // A part the journal could not write is held in memory; the request's write retries it and
  // the signer closes the record either way, so a failed commit still goes on to the signer.
  Result<void> committed = CommitJournal();
  CardOutcome outcome;
  if (signer == nullptr) {
    if (!committed) outcome.error = committed.error();
  } else {
    outcome = signer->SignTransaction(*this);
  }
  outcome.receipt.itemHash = hash;
  return outcome;
}

}  // namespace kasse
