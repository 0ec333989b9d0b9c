#include <algorithm>

#include "common/card_tags.h"
#include "common/packed.h"
#include "sim/card_core.h"
#include "sim/tlv.h"

namespace kasse::sim {
namespace {

enum ReportKind : Byte {
  kClosingSigned = 0x01,
  kClosingUnsigned = 0x02,
  kSpan = 0x03,
  kActivation = 0x04,
  kDeactivation = 0x05,
};

constexpr Byte kOverflowFlag[] = {tag::kOverflow, 0x00};
constexpr Byte kVatChangeFlag[] = {tag::kVatChange, 0x00};

struct ReportRequest {
  Bytes signedPart;  // everything the request held but the PIN
  ByteSpan pin;
  int firstMonth = 0;
  int lastMonth = 0;
};

int MonthOr0(ByteSpan value) {
  const auto month = UnpackMonth(value);
  return month ? *month : 0;
}

// The elements each kind takes, in this order, and nothing else.
std::optional<ReportRequest> ReadRequest(Byte kind, ByteSpan data) {
  std::vector<Byte> wanted = {tag::kDate, tag::kTime};
  if (kind == kSpan) wanted.insert(wanted.end(), {tag::kFirstMonth, tag::kLastMonth});
  if (kind == kActivation) wanted.push_back(tag::kPin);
  const auto elements = SplitElements(data);
  if (!elements || elements->size() != wanted.size()) return std::nullopt;
  ReportRequest request;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    const Element& e = (*elements)[i];
    if (e.tag != wanted[i]) return std::nullopt;
    bool valid = true;
    if (e.tag == tag::kDate) valid = UnpackDate(e.value).has_value();
    if (e.tag == tag::kTime) valid = UnpackTime(e.value).has_value();
    if (e.tag == tag::kFirstMonth) request.firstMonth = MonthOr0(e.value);
    if (e.tag == tag::kLastMonth) request.lastMonth = MonthOr0(e.value);
    if (e.tag == tag::kFirstMonth || e.tag == tag::kLastMonth)
      valid = UnpackMonth(e.value).has_value();
    if (!valid) return std::nullopt;
    if (e.tag == tag::kPin) {
      request.pin = e.value;
    } else {
      AppendElement(request.signedPart, e.tag, e.value);
    }
  }
  if (kind == kSpan && request.firstMonth > request.lastMonth) return std::nullopt;
  return request;
}

void AppendAmount(Bytes& out, Byte tag, std::int64_t cents) {
  AppendElement(out, tag, PackSignedAmount(cents));
}

void AppendCount(Bytes& out, Byte tag, const CountTotal& total, bool withOverflow) {
  if (total.count == 0) return;
  Bytes inner;
  AppendAmount(inner, tag::kTurnover, total.turnover);
  AppendUint32(inner, tag::kCount, total.count);
  if (withOverflow && total.overflow) inner.insert(inner.end(), kOverflowFlag, kOverflowFlag + 2);
  AppendElement(out, tag, inner);
}

void AppendTotals(Bytes& out, const Totals& totals) {
  for (std::size_t c = 0; c < totals.vat.size(); ++c) {
    const ContainerTotal& t = totals.vat[c];
    if (!t.used) continue;
    Bytes inner;
    AppendAmount(inner, tag::kTurnover, t.turnover);
    if (t.turnoverNeg != 0) AppendAmount(inner, tag::kTurnoverNeg, t.turnoverNeg);
    AppendElement(inner, tag::kRate, t.rate.empty() ? Bytes{0} : t.rate);
    if (t.overflow) inner.insert(inner.end(), kOverflowFlag, kOverflowFlag + 2);
    if (t.vatChange) inner.insert(inner.end(), kVatChangeFlag, kVatChangeFlag + 2);
    AppendElement(out, tag::VatContainer(static_cast<int>(c) + 1), inner);
  }
  AppendCount(out, tag::kThirdPartyContainer, totals.agency, true);
  AppendCount(out, tag::kDeliveryNoteContainer, totals.delivery, false);
}

void AddTotals(Totals& sum, const Totals& month) {
  for (std::size_t c = 0; c < sum.vat.size(); ++c) {
    const ContainerTotal& from = month.vat[c];
    ContainerTotal& to = sum.vat[c];
    if (!from.used) continue;
    AddToTotal(to.turnover, from.turnover, to.overflow);
    AddToTotal(to.turnoverNeg, from.turnoverNeg, to.overflow);
    to.overflow = to.overflow || from.overflow;
    to.vatChange = to.vatChange || from.vatChange || (to.used && to.rate != from.rate);
    to.rate = from.rate;
    to.used = true;
  }
  const auto addCount = [](CountTotal& to, const CountTotal& from) {
    AddToTotal(to.turnover, from.turnover, to.overflow);
    to.count += from.count;
    to.overflow = to.overflow || from.overflow;
  };
  addCount(sum.agency, month.agency);
  addCount(sum.delivery, month.delivery);
}

}  // namespace

void CardCore::AppendDayBooks(Bytes& out) const {
  if (state_.dayFirstSeq != 0) {
    AppendUint32(out, tag::kDayFirstTransaction, state_.dayFirstSeq);
    AppendUint32(out, tag::kDayLastTransaction, state_.dayLastSeq);
  }
  AppendTotals(out, state_.day);
  AppendCount(out, tag::kTrainingContainer, state_.training, true);
}

Bytes CardCore::Report(const Apdu& apdu) {
  const Byte kind = apdu.p1;
  if (kind < kClosingSigned || kind > kDeactivation || apdu.p2 != 0) {
    return Answer(kSwWrongP1P2);
  }
  if (apdu.data.empty()) return Answer(kSwWrongLength);
  const auto request = ReadRequest(kind, apdu.data);
  if (!request) return Answer(kSwWrongData);
  const Byte lifecycle = state_.lifecycle;
  const bool activated = lifecycle == static_cast<Byte>(Lifecycle::kActivated);
  if (kind == kActivation) return ActivationReport(request->signedPart, request->pin);
  // Totals stay readable after deactivation; only signing ends.
  if (kind == kClosingUnsigned) {
    if (!activated && lifecycle != static_cast<Byte>(Lifecycle::kDeactivated)) {
      return Answer(kSwConditions);
    }
  } else if (!activated) {
    return Answer(kSwConditions);
  }

  CardState next = state_;
  if (kind != kClosingUnsigned) ++next.reportSeq;
  if (kind == kDeactivation) next.lifecycle = static_cast<Byte>(Lifecycle::kDeactivated);
  Bytes out;
  const Byte shownLifecycle[] = {next.lifecycle};
  AppendElement(out, tag::kLifecycle, shownLifecycle);
  AppendIdentity(out);
  AppendUint32(out, tag::kReportSeq, next.reportSeq);
  if (kind == kSpan) {
    AppendUint32(out, tag::kTransactionSeq, state_.transactionSeq);
    Totals sum;
    for (const auto& [month, totals] : state_.months) {
      if (month >= request->firstMonth && month <= request->lastMonth) AddTotals(sum, totals);
    }
    AppendTotals(out, sum);
  } else {
    AppendDayBooks(out);
  }
  if (kind == kClosingUnsigned) return Answer(out);

  Bytes message = request->signedPart;
  message.insert(message.end(), out.begin(), out.end());
  const auto signature = Sign(message);
  if (!signature) return Answer(kSwNoDiagnosis);
  if (kind != kSpan) {
    // A signed closing starts a new day.
    next.day = Totals{};
    next.training = CountTotal{};
    next.dayFirstSeq = next.dayLastSeq = 0;
  }
  if (!Commit(std::move(next))) return Answer(kSwMemoryFailure);
  AppendElement(out, tag::kSignature, *signature);
  return Answer(out);
}

Bytes CardCore::ActivationReport(ByteSpan request, ByteSpan pin) {
  if (state_.lifecycle != static_cast<Byte>(Lifecycle::kPersonalised)) {
    return Answer(kSwConditions);
  }
  if (state_.pinTriesLeft <= 0) return Answer(kSwPinBlocked);
  if (pin.size() != 6 ||
      !std::all_of(pin.begin(), pin.end(), [](Byte b) { return b >= '0' && b <= '9'; })) {
    return Answer(kSwWrongData);
  }
  if (ToText(pin) != state_.transportPin) {
    CardState tried = state_;
    --tried.pinTriesLeft;
    if (!Commit(std::move(tried))) return Answer(kSwMemoryFailure);
    return Answer(static_cast<std::uint16_t>(kSwPinTriesLeft | state_.pinTriesLeft));
  }
  CardState next = state_;
  next.lifecycle = static_cast<Byte>(Lifecycle::kActivated);
  next.pinTriesLeft = 3;
  ++next.reportSeq;
  const auto date = UnpackDate(request.subspan(2, 4));
  if (next.firstMonth == 0 && date) next.firstMonth = *date / 100;
  Bytes out;
  const Byte lifecycle[] = {next.lifecycle};
  AppendElement(out, tag::kLifecycle, lifecycle);
  AppendIdentity(out);
  AppendUint32(out, tag::kReportSeq, next.reportSeq);
  AppendUint32(out, tag::kTransactionSeq, next.transactionSeq);
  Bytes message(request.begin(), request.end());
  message.insert(message.end(), out.begin(), out.end());
  const auto signature = Sign(message);
  if (!signature) return Answer(kSwNoDiagnosis);
  if (!Commit(std::move(next))) return Answer(kSwMemoryFailure);
  AppendElement(out, tag::kSignature, *signature);
  return Answer(out);
}

}  // namespace kasse::sim
