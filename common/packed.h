#pragma once
// Value encodings of card data: packed digits, signed packed amounts, packed rates, and the
// identifier cleaning of operator, unit and name.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

// Two decimal digits per byte, first digit in the high nibble ("20260512" gives 20 26 05 12).
// An odd count gets a leading 0. Nothing for a text holding anything but digits.
std::optional<Bytes> PackDigits(std::string_view digits);

// Cents without sign and leading zeros, a "0" in front when the digit count is even, then the
// sign nibble C (zero or positive) or D (negative): 1234 gives 01 23 4C, -500 gives 50 0D.
Bytes PackSignedAmount(std::int64_t cents);

// The reverse; the error's offset is the byte that is not a digit pair or the sign.
Result<std::int64_t> UnpackSignedAmount(ByteSpan value);

// Rate fraction (0.19) as the rate text: ten-thousandths, halves to even, "." before the last
// two characters ("19.00", "7.00", ".0").
std::string RateText(double rate);

// Rate text to packed rate: 19.00 gives 19 00, 0.50 gives 50, 0.00 gives 00. A text whose "."
// cannot be placed gives no bytes.
Bytes PackRate(std::string_view rateText);

// Operator, unit and name as the card takes them: lower-case ASCII letters, no blanks or
// control characters, at most 16 characters from "#0-9a-z" (anything else becomes "#").
std::string CleanIdentifier(std::string_view text);

}  // namespace kasse
