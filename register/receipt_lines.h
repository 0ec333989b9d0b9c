#pragma once
// Text layouts of the receipt (42 columns, cp1252) and the texts a position hands to the
// item-list encoder.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "journal/product.h"

namespace kasse {

inline constexpr std::size_t kReceiptWidth = 42;

// Left cut or filled to 24, a blank, middle cut or filled to 7, blanks to 42; then `right`
// ending in column 41 (only its last 41 characters fit).
std::string PositionLine(std::string_view left, std::string_view middle, std::string_view right);

// 7, blank, 9, blank, 9, blank, 9: the VAT table.
std::string FourColumnLine(std::string_view c1, std::string_view c2, std::string_view c3,
                           std::string_view c4);

// " AB " for a position with prices in containers 1 and 2.
std::string ContainerLetters(const BookingPosition& position);

// The quantity on the receipt: at most 7 significant digits, decimal comma ("2,5").
std::string ReceiptQuantity(double quantity);
// The quantity handed to the item list: shortest general form, decimal comma.
std::string EncoderQuantity(double quantity);

// Container 1..6: its price times quantity; 7 (agency) and 8 (delivery note): the unit price
// times quantity; rounded commercially. Empty when the container does not apply or it is 0.
std::string ContainerAmountText(const BookingPosition& position, int container, double quantity);

// Base32 in groups of five joined by "-"; with `lineBreaks`, a new line after every 30th
// character (after the "-" that follows it).
std::vector<std::string> GroupedBase32(ByteSpan bytes, bool lineBreaks);

// The rate column of the VAT table before it is cut: "A  19.00%".
std::string VatRateColumn(int container, double rate);

// Splits a text block at CR LF (or LF) into lines, as a memo shows it.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace kasse
