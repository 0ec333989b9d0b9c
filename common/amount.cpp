#include "common/amount.h"

#include <charconv>
#include <cmath>

namespace kasse {

std::int64_t RoundCommercial(double cents) {
  const double whole = std::trunc(cents);
  const double extra = std::trunc(2.0 * (cents - whole));
  return static_cast<std::int64_t>(whole + extra);
}

std::string FormatAmount(std::int64_t cents) {
  // Magnitude as unsigned so that the most negative value has one too.
  const std::uint64_t magnitude =
      cents < 0 ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
  std::string digits = std::to_string(magnitude);
  if (digits.size() < 3) digits = std::string(3 - digits.size(), '0') + digits;
  std::string text(1, cents < 0 ? '-' : ' ');
  text.append(digits, 0, digits.size() - 2);
  text.push_back(',');
  text.append(digits, digits.size() - 2, 2);
  text.push_back(kEuroSign);
  return text;
}

std::string CentsText(std::int64_t cents) {
  return std::to_string(cents);
}

Result<std::int64_t> ParseInteger(std::string_view text) {
  if (text.empty()) return MakeError(ErrorKind::kMalformed, "not a whole number: empty");
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (*first == '+') ++first;
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(first, last, value);
  const auto offset = static_cast<std::size_t>(end - text.data());
  if (error == std::errc::result_out_of_range)
    return MakeError(ErrorKind::kTooLong, "whole number beyond 64 bits", offset);
  if (error != std::errc() || end != last)
    return MakeError(ErrorKind::kMalformed, "not a whole number", offset);
  return value;
}

}  // namespace kasse
