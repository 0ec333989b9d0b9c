#pragma once
// The VAT containers of one sale: 1..6 the six rates, 7 agency sales, 8 delivery notes.

#include <array>
#include <string_view>

#include "common/bytes.h"

namespace kasse {

struct VatContainer {
  double turnover = 0, turnoverNeg = 0, vat = 0, rate = 0, turnoverThirdParty = 0;
  Byte hasThirdParty = 0;
};

class VatContainers {  // containers 1..8 (7 agency, 8 delivery note)
 public:
  static constexpr int kCount = 8;

  // A number outside 1..8 reads as an empty container and writes to a scratch one, so no
  // input can reach past the array or into a real container.
  VatContainer& operator[](int container);
  const VatContainer& operator[](int container) const;
  void Reset(const std::array<double, 6>& rates);  // 7 and 8 get rate 0
  // BookAmount of the sale: amount text of whole cents; versionLevel >= 2 sets hasThirdParty
  void BookAmount(int container, std::string_view amountText, bool exclusive, bool hasAgencyShare,
                  int versionLevel);

 private:
  std::array<VatContainer, kCount> containers_{};
  VatContainer scratch_;
};

}  // namespace kasse
