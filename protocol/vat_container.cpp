#include "protocol/vat_container.h"

#include <cstdint>

#include "common/amount.h"

namespace kasse {

namespace {

bool Valid(int container) {
  return container >= 1 && container <= VatContainers::kCount;
}

}  // namespace

VatContainer& VatContainers::operator[](int container) {
  if (!Valid(container)) return scratch_ = VatContainer{};
  return containers_[static_cast<std::size_t>(container - 1)];
}

const VatContainer& VatContainers::operator[](int container) const {
  static constexpr VatContainer kEmpty{};
  if (!Valid(container)) return kEmpty;
  return containers_[static_cast<std::size_t>(container - 1)];
}

void VatContainers::Reset(const std::array<double, 6>& rates) {
  for (int c = 1; c <= kCount; ++c) {
    VatContainer fresh;
    fresh.rate = c <= 6 ? rates[static_cast<std::size_t>(c - 1)] : 0.0;
    (*this)[c] = fresh;
  }
}

void VatContainers::BookAmount(int container, std::string_view amountText, bool exclusive,
                               bool hasAgencyShare, int versionLevel) {
  if (!Valid(container)) return;
  const Result<std::int64_t> parsed = ParseInteger(amountText);
  if (!parsed || *parsed == 0) return;
  const std::int64_t cents = *parsed;
  VatContainer& target = (*this)[container];
  const double amount = static_cast<double>(cents);
  target.turnover += amount;
  if (amount <= 0) target.turnoverNeg -= amount;
  target.vat += exclusive ? amount * target.rate : amount * (1.0 - 1.0 / (1.0 + target.rate));
  if (hasAgencyShare) {
    target.turnoverThirdParty += amount;
    if (versionLevel >= 2) target.hasThirdParty = 1;
  }
}

}  // namespace kasse
