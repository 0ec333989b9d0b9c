#pragma once
// Money on receipts: whole cents, rounded halves away from zero, shown with a euro sign.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace kasse {

inline constexpr char kEuroSign = '\x80';  // cp1252

// Halves away from zero: integer part plus the integer part of twice the fraction.
std::int64_t RoundCommercial(double cents);

// " 1,99€" / "-0,05€": sign place, at least one digit before the comma, two after, euro sign.
std::string FormatAmount(std::int64_t cents);

// Whole cents as plain decimal text ("-199"), as the item list and the journal write them.
std::string CentsText(std::int64_t cents);

// Reads a decimal whole number, optionally signed. Anything else is kMalformed with the offset
// where reading stopped (text before it that reads as a number is that number); a number
// beyond 64 bits is kTooLong.
Result<std::int64_t> ParseInteger(std::string_view text);

}  // namespace kasse
