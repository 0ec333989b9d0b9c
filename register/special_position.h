#pragma once
// Reading the typed fields of a booking: the quantity fields and the special-position editor.

#include <array>
#include <string>
#include <string_view>

#include "common/result.h"
#include "journal/product.h"

namespace kasse {

// A quantity as typed: decimal comma, the first "." read as a comma, optional sign.
// kMalformed for anything that is not a finite number.
Result<double> ParseQuantity(std::string_view text);

// The fields of the editor "Buchungsposition", as typed.
struct SpecialPositionFields {
  std::string name;                   // "Handelsübliche Bezeichnung"
  std::string unit;                   // "Mengeneinheit"
  std::string quantity;               // "Menge/Anzahl"
  std::array<std::string, 6> prices;  // whole cents; empty is 0
  bool discountSurcharge = false;
  bool voucher = false;
  bool agency = false;
  bool deliveryNote = false;
};

// The position the editor books; an error naming the field that is not a number.
Result<BookingPosition> MakeSpecialPosition(const SpecialPositionFields& fields);

}  // namespace kasse
