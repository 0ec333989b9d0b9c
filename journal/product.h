#pragma once
// One product of a product list; a position of a sale is its own copy of one.

#include <array>
#include <cstdint>
#include <string>

namespace kasse {

struct TProd {
  std::string name;  // cp1252
  std::string unit;  // may be empty
  // Cents per unit in VAT containers 1..6 (index 0..5); 7 and 8 are carried along only.
  std::array<std::int32_t, 8> price{};
  bool discountSurcharge = false;
  bool voucher = false;
  bool thirdparty = false;    // agency sale
  bool deliverynote = false;  // delivery note
  double qnt = 1.0;

  // Sum of price1..price6: the unit price of a mixed-rate product.
  std::int64_t UnitPrice() const {
    std::int64_t sum = 0;
    for (int c = 0; c < 6; ++c)
      sum += price[static_cast<std::size_t>(c)];
    return sum;
  }
};

using BookingPosition = TProd;

}  // namespace kasse
