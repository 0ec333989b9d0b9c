#include "register/receipt_lines.h"

#include <charconv>
#include <cmath>

#include "common/amount.h"
#include "common/base_n.h"

namespace kasse {

namespace {

std::string Fitted(std::string_view text, std::size_t width) {
  std::string fitted(text.substr(0, width));
  fitted.resize(width, ' ');
  return fitted;
}

std::string GeneralWithComma(double value, int precision) {
  if (value == 0) value = 0;  // no "-0"
  char buffer[64];
  // Whole quantities below 10^7 read the same in every precision used here, and the integer
  // form costs a fraction of the general one on the mass run's many positions.
  const bool whole = std::abs(value) < 1e7 && value == std::trunc(value);
  const auto written =
      whole ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value))
            : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general,
                            precision);
  std::string text(buffer, written.ptr);
  for (char& c : text)
    if (c == '.') c = ',';
  return text;
}

}  // namespace

std::string PositionLine(std::string_view left, std::string_view middle, std::string_view right) {
  std::string line = Fitted(left, 24) + ' ' + Fitted(middle, 7);
  line.resize(kReceiptWidth, ' ');
  if (right.size() > kReceiptWidth - 1) right = right.substr(right.size() - (kReceiptWidth - 1));
  line.replace(kReceiptWidth - 1 - right.size(), right.size(), right);
  return line;
}

std::string FourColumnLine(std::string_view c1, std::string_view c2, std::string_view c3,
                           std::string_view c4) {
  return Fitted(c1, 7) + ' ' + Fitted(c2, 9) + ' ' + Fitted(c3, 9) + ' ' + Fitted(c4, 9);
}

std::string ContainerLetters(const BookingPosition& position) {
  std::string letters = " ";
  for (std::size_t c = 0; c < 6; ++c)
    if (position.price[c] != 0) letters += static_cast<char>('A' + c);
  return letters + ' ';
}

std::string ReceiptQuantity(double quantity) {
  return GeneralWithComma(quantity, 7);
}

std::string EncoderQuantity(double quantity) {
  return GeneralWithComma(quantity, 15);
}

std::string ContainerAmountText(const BookingPosition& position, int container, double quantity) {
  double amount = 0;
  if (container >= 1 && container <= 6)
    amount = position.price[static_cast<std::size_t>(container - 1)] * quantity;
  else if ((container == 7 && position.thirdparty) || (container == 8 && position.deliverynote))
    amount = static_cast<double>(position.UnitPrice()) * quantity;
  const std::int64_t cents = RoundCommercial(amount);
  return cents == 0 ? std::string() : CentsText(cents);
}

std::vector<std::string> GroupedBase32(ByteSpan bytes, bool lineBreaks) {
  const std::string base32 = Base32Encode(bytes);
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < base32.size(); ++i) {
    lines.back() += base32[i];
    const bool more = i + 1 < base32.size();
    if ((i + 1) % 5 == 0 && more) lines.back() += '-';
    if (lineBreaks && (i + 1) % 30 == 0 && more) lines.emplace_back();
  }
  return lines;
}

std::string VatRateColumn(int container, double rate) {
  std::string digits = "000";
  if (rate != 0) digits = std::to_string(std::llround(rate * 10000));
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');  // "0.05", not ".05"
  digits.insert(digits.size() - 2, ".");
  return std::string(1, static_cast<char>('A' + container - 1)) + "  " + digits + "%";
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) return lines;
    start = end + 1;
  }
}

}  // namespace kasse
