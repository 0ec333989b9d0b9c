#include <array>
#include <set>

#include "common/card_tags.h"
#include "common/packed.h"
#include "common/payload_filter.h"
#include "common/sha.h"
#include "sim/card_core.h"
#include "sim/tlv.h"

namespace kasse::sim {
namespace {

struct VatItem {
  std::int64_t turnover = 0;
  std::int64_t turnoverNeg = 0;
  Bytes rate;
  std::optional<std::int64_t> thirdParty;
};

struct Record {
  int date = 0;  // yyyymmdd
  bool training = false;
  bool deliveryFlag = false;
  std::array<std::optional<VatItem>, 6> vat;
  std::optional<std::int64_t> agency;    // E7
  std::optional<std::int64_t> delivery;  // E8
};

bool IsPackedRate(ByteSpan value) {
  if (value.empty() || value.size() > 2) return false;
  for (const Byte b : value) {
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return false;
  }
  return true;
}

std::optional<VatItem> ReadVatContainer(ByteSpan value) {
  const auto children = SplitElements(value);
  if (!children) return std::nullopt;
  VatItem item;
  std::set<Byte> seen;
  for (const Element& child : *children) {
    if (!seen.insert(child.tag).second) return std::nullopt;
    if (child.tag == tag::kRate) {
      if (!IsPackedRate(child.value)) return std::nullopt;
      item.rate.assign(child.value.begin(), child.value.end());
      continue;
    }
    const auto amount = UnpackSignedAmount(child.value);
    if (!amount) return std::nullopt;
    switch (child.tag) {
      case tag::kTurnover:
        item.turnover = *amount;
        break;
      case tag::kTurnoverNeg:
        item.turnoverNeg = *amount;
        break;
      case tag::kVat:
        break;
      case tag::kTurnoverThirdParty:
        item.thirdParty = *amount;
        break;
      default:
        return std::nullopt;
    }
  }
  if (!seen.count(tag::kTurnover) || !seen.count(tag::kRate)) return std::nullopt;
  return item;
}

std::optional<std::int64_t> ReadSingleTurnover(ByteSpan value) {
  const auto children = SplitElements(value);
  if (!children || children->size() != 1 || (*children)[0].tag != tag::kTurnover)
    return std::nullopt;
  const auto amount = UnpackSignedAmount((*children)[0].value);
  if (!amount) return std::nullopt;
  return *amount;
}

bool ReadElement(const Element& e, Record& record) {
  switch (e.tag) {
    case tag::kDate: {
      const auto date = UnpackDate(e.value);
      record.date = date ? *date : 0;
      return date.has_value();
    }
    case tag::kTime:
      return UnpackTime(e.value).has_value();
    case tag::kOperator:
      return !e.value.empty() && e.value.size() <= 16;
    case tag::kItemHash:
      return e.value.size() == 20;
    case tag::kCurrency:
      return e.value.size() == 2;
    case tag::kVatAddon:
      return e.value.empty();
    case tag::kTraining:
      record.training = true;
      return e.value.empty();
    case tag::kDeliveryNote:
      record.deliveryFlag = true;
      return e.value.empty();
    case tag::kThirdPartyContainer:
      record.agency = ReadSingleTurnover(e.value);
      return record.agency.has_value();
    case tag::kDeliveryNoteContainer:
      record.delivery = ReadSingleTurnover(e.value);
      return record.delivery.has_value();
    default:
      break;
  }
  if (!tag::IsVatContainer(e.tag)) return false;
  auto& slot = record.vat[tag::VatContainerNumber(e.tag) - 1];
  slot = ReadVatContainer(e.value);
  return slot.has_value();
}

std::optional<Record> ReadRecord(ByteSpan data) {
  const auto elements = SplitElements(data);
  if (!elements) return std::nullopt;
  Record record;
  std::set<Byte> seen;
  for (const Element& e : *elements) {
    if (!seen.insert(e.tag).second || !ReadElement(e, record)) return std::nullopt;
  }
  if (!seen.count(tag::kDate) || !seen.count(tag::kTime) || !seen.count(tag::kItemHash))
    return std::nullopt;
  return record;
}

void BookVat(ContainerTotal& total, const VatItem& item) {
  AddToTotal(total.turnover, item.turnover, total.overflow);
  AddToTotal(total.turnoverNeg, item.turnoverNeg, total.overflow);
  if (total.used && total.rate != item.rate) total.vatChange = true;
  total.rate = item.rate;
  total.used = true;
}

void BookCount(CountTotal& total, std::int64_t amount) {
  AddToTotal(total.turnover, amount, total.overflow);
  ++total.count;
}

void BookRecord(Totals& totals, const Record& record) {
  std::int64_t thirdParty = 0;
  std::int64_t vatTurnover = 0;
  bool hasThirdParty = false;
  for (std::size_t c = 0; c < record.vat.size(); ++c) {
    if (!record.vat[c]) continue;
    BookVat(totals.vat[c], *record.vat[c]);
    vatTurnover += record.vat[c]->turnover;
    if (record.vat[c]->thirdParty) {
      thirdParty += *record.vat[c]->thirdParty;
      hasThirdParty = true;
    }
  }
  // Version 1 sends agency and delivery notes as E7 and E8; version 2 as D6 and the D7 flag.
  if (record.agency || hasThirdParty) BookCount(totals.agency, record.agency.value_or(thirdParty));
  if (record.delivery) BookCount(totals.delivery, *record.delivery);
  if (record.deliveryFlag && !record.delivery) BookCount(totals.delivery, vatTurnover);
}

std::int64_t TrainingTurnover(const Record& record) {
  std::int64_t sum = record.agency.value_or(0) + record.delivery.value_or(0);
  for (const auto& item : record.vat)
    sum += item ? item->turnover : 0;
  return sum;
}

}  // namespace

Bytes CardCore::Transaction(const Apdu& apdu) {
  if (apdu.p1 != 0 || apdu.p2 != 0) return Answer(kSwWrongP1P2);
  if (apdu.data.empty()) return Answer(kSwWrongLength);
  if (state_.lifecycle != static_cast<Byte>(Lifecycle::kActivated)) return Answer(kSwConditions);
  const auto record = ReadRecord(apdu.data);
  if (!record) return Answer(kSwWrongData);

  const std::uint32_t seq = state_.transactionSeq + 1;
  Bytes message(apdu.data.begin(), apdu.data.end());
  FilterPayload(message);
  AppendIdentity(message);
  AppendUint32(message, tag::kTransactionSeq, seq);
  const auto signature = Sign(message);
  if (!signature) return Answer(kSwNoDiagnosis);

  CardState next = state_;
  next.transactionSeq = seq;
  if (next.dayFirstSeq == 0) next.dayFirstSeq = seq;
  next.dayLastSeq = seq;
  if (record->training) {
    BookCount(next.training, TrainingTurnover(*record));
  } else {
    const int month = record->date / 100;
    BookRecord(next.day, *record);
    BookRecord(next.months[month], *record);
    if (next.firstMonth == 0 || month < next.firstMonth) next.firstMonth = month;
  }
  if (!Commit(std::move(next))) return Answer(kSwMemoryFailure);

  Bytes out;
  AppendIdentity(out);
  AppendUint32(out, tag::kTransactionSeq, seq);
  AppendElement(out, tag::kSignature, *signature);
  if (options_.debugHash) {
    const Sha1Digest digest = Sha1(message);
    AppendElement(out, tag::kDebugHash, digest);
  }
  return Answer(out);
}

// The data as the register rebuilds it: the transaction's verified fields with CB before the
// containers and 9E last. Signed was F(fields) + identity + CB, so CB moves behind.
Bytes CardCore::VerifySignature(const Apdu& apdu) const {
  if (apdu.p1 != 0 || apdu.p2 != 0) return Answer(kSwWrongP1P2);
  if (apdu.data.empty()) return Answer(kSwWrongLength);
  const auto elements = SplitElements(apdu.data);
  if (!elements) return Answer(kSwWrongData);
  Bytes fields;
  std::optional<Element> seq;
  std::optional<Element> signature;
  for (const Element& e : *elements) {
    if (e.tag == tag::kTransactionSeq && !seq) {
      seq = e;
    } else if (e.tag == tag::kSignature && !signature) {
      signature = e;
    } else {
      AppendElement(fields, e.tag, e.value);
    }
  }
  if (!seq || !signature) return Answer(kSwWrongData);
  FilterPayload(fields);
  AppendIdentity(fields);
  AppendElement(fields, tag::kTransactionSeq, seq->value);
  return Answer(signer_.Verify(fields, signature->value) ? kSwOk : kSwBadSignature);
}

}  // namespace kasse::sim
