#pragma once
// The hexadecimal text of card commands and answers.
// Written form: "00 A4 04 00", upper case, one blank between bytes.
// Read form: lenient, see HexParse. Compact form: the written form without blanks.

#include <string>
#include <string_view>

#include "common/bytes.h"

namespace kasse {

std::string HexWritten(ByteSpan bytes);
std::string HexCompact(ByteSpan bytes);

// Left to right: a blank ends a pending byte, two digits complete one, a single pending digit
// before a blank or at the end is a byte of that value ("A" is 0A), digits are
// case-insensitive and any other character counts as the digit 0. Never fails.
Bytes HexParse(std::string_view text);

std::string StripBlanks(std::string_view text);

}  // namespace kasse
