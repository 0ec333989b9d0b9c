#include "register/sale.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/amount.h"
#include "receipt/raw_print_job.h"
#include "register/messages.h"
#include "register/receipt_lines.h"

namespace kasse {

namespace {

constexpr double kMaxCents = std::numeric_limits<std::int32_t>::max();

bool FitsCents(double amount) {
  return std::isfinite(amount) && std::fabs(amount) <= kMaxCents;
}

}  // namespace

Sale::Sale(const RegisterConfig& config, const LanguageTexts& texts, ItemList& itemList,
           VatContainers& containers)
    : config_(config), texts_(texts), itemList_(itemList), containers_(containers) {
  ResetReceipt();
}

Result<void> Sale::CheckPosition(const BookingPosition& position, std::size_t lines) const {
  const double quantity = position.qnt;
  if (!std::isfinite(quantity) || !ItemQuantityText(EncoderQuantity(quantity)))
    return MakeError(ErrorKind::kUnusableInput, msg::kQuantityNotBookable);
  // Every amount of a position, its total included, must stay a 32-bit number of cents.
  for (const std::int32_t price : position.price)
    if (!FitsCents(price * quantity))
      return MakeError(ErrorKind::kUnusableInput, msg::kAmountTooLarge);
  if (!FitsCents(static_cast<double>(position.UnitPrice()) * quantity))
    return MakeError(ErrorKind::kUnusableInput, msg::kAmountTooLarge);
  const std::size_t base = noSaleOpen_ ? 1 : lines_.size();
  if (base + lines > kMaxReceiptLines) return MakeError(ErrorKind::kTooLong, msg::kReceiptFull);
  return {};
}

void Sale::AddLine(std::string line, LineOwner owner) {
  lines_.push_back(std::move(line));
  owners_.push_back(owner);
}

void Sale::Encode(const BookingPosition& position, double amountQuantity) {
  ItemInput item;
  item.quantity = EncoderQuantity(position.qnt);
  item.unit = position.unit;
  item.name = position.name;
  item.isDiscount = position.discountSurcharge;
  item.isVoucher = position.voucher;
  item.exclusiveTax = config_.IsExclusiveTax();
  for (int c = 1; c <= 8; ++c)
    item.amounts[static_cast<std::size_t>(c - 1)] =
        ContainerAmountText(position, c, amountQuantity);
  // Checked before anything was written, so the encoder accepts the quantity.
  (void)itemList_.EncodeItem(item, containers_, settings.versionLevel);
}

Result<void> Sale::BookPosition(const BookingPosition& given) {
  // A copy first: `given` may be one of our positions, which a new receipt frees.
  const BookingPosition position = given;
  const bool twoLines = position.qnt != 1.0;
  if (Result<void> ok = CheckPosition(position, twoLines ? 2 : 1); !ok) return ok;
  if (noSaleOpen_) {
    noSaleOpen_ = false;
    abbruchEnabled_ = true;
    summeEnabled_ = true;
    ResetReceipt();
  }
  kassierenEnabled_ = false;
  summeEnabled_ = true;

  positions_.push_back(position);
  const std::size_t index = positions_.size() - 1;
  const LineOwner owner{LineOwner::Kind::kPosition, index};
  const std::string letters = ContainerLetters(position);
  const std::int64_t unitPrice = position.UnitPrice();
  if (!twoLines) {
    const std::string left =
        position.unit.empty() ? position.name : position.name + " 1" + position.unit;
    AddLine(PositionLine(left, letters, FormatAmount(unitPrice)), owner);
  } else {
    AddLine(PositionLine(position.name, "", ""), owner);
    const std::string left = " " + ReceiptQuantity(position.qnt) + " " + position.unit + " x " +
                             FormatAmount(unitPrice) + " = ";
    const double total = static_cast<double>(unitPrice) * position.qnt;
    AddLine(PositionLine(left, letters, FormatAmount(RoundCommercial(total))),
            {LineOwner::Kind::kContinuationMark, index});
  }
  lastPosition_ = index;
  Encode(position, position.qnt);
  discountBoxVisible_ = true;
  stornoVisible_ = true;
  return {};
}

Result<void> Sale::CancelPosition(std::size_t caretLine) {
  if (lines_.empty()) return {};
  std::size_t line = std::min(caretLine, lines_.size() - 1);
  while (line >= 1 && owners_[line].kind == LineOwner::Kind::kContinuationMark)
    --line;
  if (line < 1 || owners_[line].kind != LineOwner::Kind::kPosition) return {};
  const BookingPosition position = positions_[owners_[line].position];
  const bool twoLines = position.qnt != 1.0;
  if (lines_.size() + (twoLines ? 2 : 1) > kMaxReceiptLines)
    return MakeError(ErrorKind::kTooLong, msg::kReceiptFull);

  const std::string letters = ContainerLetters(position);
  const std::int64_t unitPrice = position.UnitPrice();
  if (!twoLines) {
    AddLine(PositionLine(position.name, letters, FormatAmount(-unitPrice)));
  } else {
    AddLine(PositionLine(position.name, "", ""));
    const std::string left =
        " " + ReceiptQuantity(position.qnt) + " x " + FormatAmount(unitPrice) + " = ";
    const double total = static_cast<double>(unitPrice) * position.qnt;
    AddLine(PositionLine(left, letters, FormatAmount(-RoundCommercial(total))));
  }
  Encode(position, -position.qnt);
  stornoVisible_ = false;
  return {};
}

Result<void> Sale::ApplyPercentage(PercentSign sign, std::string_view percentText) {
  if (!lastPosition_) return {};
  const Result<std::int64_t> parsed = ParseInteger(percentText);
  if (!parsed) return MakeError(ErrorKind::kMalformed, msg::kPercentNotNumber);
  const std::int64_t percent = *parsed;
  if (percent < 0 || percent > 99) return MakeError(ErrorKind::kUnusableInput, msg::kPercentRange);

  BookingPosition change = positions_[*lastPosition_];
  const bool discount = sign == PercentSign::kDiscount;
  change.name = discount ? "Rabatt" : "Aufschlag";
  change.discountSurcharge = true;
  const double factor =
      -0.0001 * change.qnt * static_cast<double>((discount ? 1 : -1) * percent * 100);
  for (std::int32_t& price : change.price) {
    const double amount = price * factor;
    // Only the carried-along prices 7 and 8 can be out of range here; they become 0.
    price = FitsCents(amount) ? static_cast<std::int32_t>(RoundCommercial(amount)) : 0;
  }
  change.qnt = 1.0;
  if (Result<void> booked = BookPosition(change); !booked) return booked;
  lastPosition_.reset();
  discountBoxVisible_ = false;
  return {};
}

Result<void> Sale::TotalSale() {
  lastPosition_.reset();
  discountBoxVisible_ = false;
  stornoVisible_ = false;
  if (noSaleOpen_ || kassierenEnabled_) return {};
  AddLine(std::string(41, '_'));
  AddLine(PositionLine(texts_.LangText(10), " ", FormatAmount(SaleTotal())));
  AddLine(" ");
  kassierenEnabled_ = true;
  summeEnabled_ = false;
  return {};
}

Result<RecordFlags> Sale::BeginCashIn() {
  if (!kassierenEnabled_) return MakeError(ErrorKind::kUnusableInput, msg::kSaleNotTotalled);
  const bool exclusive = config_.IsExclusiveTax();
  cashInStart_ = lines_.size();
  AddLine(FourColumnLine(texts_.LangText(4), " " + texts_.LangText(5), " " + texts_.LangText(2),
                         " " + texts_.LangText(6)));
  for (int c = 1; c <= 6; ++c)
    if (std::string line = VatTableLine(c, exclusive); !line.empty()) AddLine(std::move(line));
  AddLine(" ");
  return RecordFlags()
      .Set(RecordFlag::kTraining, settings.trainingMode)
      .Set(RecordFlag::kVatAddon, exclusive);
}

void Sale::CancelCashIn() {
  lines_.resize(std::min(lines_.size(), cashInStart_));
  owners_.resize(lines_.size());
}

void Sale::CloseCashIn() {
  ResetItems();
  EndSale();
}

void Sale::AppendQrSpace() {
  qrFirstLine_ = lines_.size();
  for (int i = 0; i < 5; ++i)
    AddLine("");
}

void Sale::TrimEmptyLastLines() {
  kasse::TrimEmptyLastLines(lines_);
  owners_.resize(lines_.size());
  if (qrFirstLine_) qrFirstLine_ = std::min(*qrFirstLine_, lines_.size());
  if (heldNotice_ && *heldNotice_ >= lines_.size()) heldNotice_.reset();
}

void Sale::SetHeldNotice(std::string line) {
  heldNotice_ = lines_.size();
  AddLine(std::move(line));
}

void Sale::ClearHeldNotice() {
  if (heldNotice_ && *heldNotice_ + 1 == lines_.size()) {
    lines_.pop_back();
    owners_.pop_back();
  }
  heldNotice_.reset();
}

void Sale::AbortSale() {
  // Escape reaches here without the button; a finished receipt gets no abort text.
  if (noSaleOpen_) return;
  AddLine(" ");
  AddLine("###" + texts_.LangText(11) + "###");
  ResetItems();
  EndSale();
}

void Sale::ResetReceipt() {
  receiptColour_ = kReceiptColour;
  positions_.clear();
  owners_.clear();
  lines_.clear();
  lastPosition_.reset();
  ResetItems();
  AddLine(std::string(13, ' ') + texts_.LangText(12));
  qrFirstLine_.reset();
  heldNotice_.reset();
  summeEnabled_ = false;
}

void Sale::LeaveSale() {
  ResetReceipt();
  EndSale();
}

void Sale::OpenEmptySale() {
  if (!noSaleOpen_) return;
  noSaleOpen_ = false;
  abbruchEnabled_ = true;
  ResetReceipt();
  summeEnabled_ = true;
  kassierenEnabled_ = false;
}

void Sale::ResetItems() {
  itemList_.ResetItemList(containers_, config_.ContainerRates());
}

void Sale::EndSale() {
  noSaleOpen_ = true;
  lastPosition_.reset();
  kassierenEnabled_ = false;
  abbruchEnabled_ = false;
  summeEnabled_ = false;
  discountBoxVisible_ = false;
  stornoVisible_ = false;
}

}  // namespace kasse
