#pragma once
// The transport PIN must not stand in the card monitor (its screen and its saved log): a
// command is logged as CommandText writes it, except that the value bytes of the PIN element
// of a report command are written "**". Every other command, and every other byte, is
// written unchanged.

#include <string>

#include "common/bytes.h"

namespace kasse {

// The PIN element of the report commands (80 42) is tag::kPin, a length, ASCII digits.
std::string CommandTextWithoutPin(ByteSpan command);

}  // namespace kasse
