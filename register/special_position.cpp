#include "register/special_position.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "common/amount.h"
#include "protocol/protocol_messages.h"
#include "register/messages.h"

namespace kasse {

Result<double> ParseQuantity(std::string_view text) {
  std::string number(text);
  if (const std::size_t point = number.find('.'); point != std::string::npos) number[point] = ',';
  if (number.find('.') != std::string::npos)
    return MakeError(ErrorKind::kMalformed, protocol_msg::kQuantityNotNumber);
  for (char& c : number)
    if (c == ',') c = '.';
  const char* first = number.data();
  const char* last = number.data() + number.size();
  if (first != last && *first == '+') ++first;
  double value = 0;
  const auto [end, error] = std::from_chars(first, last, value, std::chars_format::fixed);
  if (first == last || error != std::errc() || end != last || !std::isfinite(value))
    return MakeError(ErrorKind::kMalformed, protocol_msg::kQuantityNotNumber);
  return value;
}

Result<BookingPosition> MakeSpecialPosition(const SpecialPositionFields& fields) {
  BookingPosition position;
  position.name = fields.name;
  position.unit = fields.unit;
  for (std::size_t c = 0; c < fields.prices.size(); ++c) {
    if (fields.prices[c].empty()) continue;
    const Result<std::int64_t> cents = ParseInteger(fields.prices[c]);
    if (!cents || *cents < std::numeric_limits<std::int32_t>::min() ||
        *cents > std::numeric_limits<std::int32_t>::max())
      return MakeError(ErrorKind::kMalformed, msg::kPriceNotCents, {std::to_string(c + 1)});
    position.price[c] = static_cast<std::int32_t>(*cents);
  }
  Result<double> quantity = ParseQuantity(fields.quantity);
  if (!quantity) return quantity.error();
  position.qnt = *quantity;
  position.discountSurcharge = fields.discountSurcharge;
  position.voucher = fields.voucher;
  position.thirdparty = fields.agency;
  position.deliverynote = fields.deliveryNote;
  return position;
}

}  // namespace kasse
