#pragma once
// The transport PIN must not stand in the card monitor (its screen and its saved log): the
// activation command is logged as written, except that the value digits of its PIN element
// are replaced by '*'. Every other command, and every other character, passes unchanged.

#include <string>
#include <string_view>

namespace kasse {

// The PIN element of the report commands (80 42) is tag::kPin, a length, ASCII digits.
std::string MaskPinInCommand(std::string_view command);

}  // namespace kasse
