// The texts the sale writes besides its positions: VAT table, security texts, queries.
#include "common/amount.h"
#include "register/receipt_lines.h"
#include "register/sale.h"

namespace kasse {

std::int64_t Sale::SaleTotal() const {
  double total = 0;
  for (int c = 1; c <= 6; ++c)
    total += containers_[c].turnover;
  return RoundCommercial(total);
}

std::string Sale::VatTableLine(int container, bool exclusive) const {
  if (container < 1 || container > 6) return {};
  const VatContainer& vat = containers_[container];
  if (vat.turnover == 0) return {};
  const std::int64_t amount = RoundCommercial(vat.turnover);
  const std::int64_t tax = RoundCommercial(vat.vat);
  const std::string rate = VatRateColumn(container, vat.rate);
  if (exclusive)
    return FourColumnLine(rate, FormatAmount(amount + tax), FormatAmount(amount),
                          FormatAmount(tax));
  return FourColumnLine(rate, FormatAmount(amount), FormatAmount(amount - tax), FormatAmount(tax));
}

void Sale::AppendHashText(ByteSpan bytes, bool force) {
  if (!settings.showSecurityText && !force) return;
  AddLine(texts_.LangText(7));
  AddLine(GroupedBase32(bytes, false).front());
}

void Sale::AppendSignatureText(ByteSpan bytes, bool force) {
  const bool show = settings.showSecurityText || force;
  if (show) AddLine(texts_.LangText(8));
  if (bytes.empty()) {
    AddLine("\t" + texts_.LangText(9));
    return;
  }
  if (!show) return;
  for (std::string& line : GroupedBase32(bytes, true))
    AddLine(std::move(line));
}

void Sale::AppendText(std::string_view text) {
  if (text.empty()) return;
  for (std::string& line : SplitLines(text))
    AddLine(std::move(line));
}

std::string Sale::ReceiptText() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines_[i];
  }
  return text;
}

LineOwner Sale::OwnerOfLine(std::size_t line) const {
  return line < owners_.size() ? owners_[line] : LineOwner{};
}

const BookingPosition* Sale::PositionAtLine(std::size_t line) const {
  const LineOwner owner = OwnerOfLine(line);
  return owner.kind == LineOwner::Kind::kPosition ? &positions_[owner.position] : nullptr;
}

const BookingPosition* Sale::LastPosition() const {
  return lastPosition_ ? &positions_[*lastPosition_] : nullptr;
}

SaleState Sale::State() const {
  if (noSaleOpen_) return SaleState::kIdle;
  return kassierenEnabled_ ? SaleState::kTotalled : SaleState::kOpen;
}

}  // namespace kasse
