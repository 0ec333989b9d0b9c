#include "common/packed.h"

#include <cmath>

namespace kasse {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::optional<Bytes> PackDigits(std::string_view digits) {
  std::string text(digits);
  if (text.size() % 2 != 0) text.insert(text.begin(), '0');
  Bytes packed;
  packed.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    if (!IsDigit(text[i]) || !IsDigit(text[i + 1])) return {};
    packed.push_back(static_cast<Byte>((text[i] - '0') << 4 | (text[i + 1] - '0')));
  }
  return packed;
}

Bytes PackSignedAmount(std::int64_t cents) {
  const bool negative = cents < 0;
  // Magnitude as unsigned so that the most negative value has one too.
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
  std::string digits = std::to_string(magnitude);
  if (digits.size() % 2 == 0) digits.insert(digits.begin(), '0');
  digits.push_back(negative ? static_cast<char>('0' + 0x0D) : static_cast<char>('0' + 0x0C));
  Bytes packed;
  packed.reserve(digits.size() / 2);
  for (std::size_t i = 0; i < digits.size(); i += 2)
    packed.push_back(static_cast<Byte>((digits[i] - '0') << 4 | (digits[i + 1] - '0')));
  return packed;
}

Result<std::int64_t> UnpackSignedAmount(ByteSpan value) {
  const auto bad = [](std::size_t at) {
    return MakeError(ErrorKind::kMalformed, "not a signed packed amount", at);
  };
  if (value.empty()) return bad(0);
  if (value.size() > 9) return bad(9);  // 17 digits fit 64 bits
  std::int64_t magnitude = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const int high = value[i] >> 4;
    const int low = value[i] & 0x0F;
    if (high > 9) return bad(i);
    magnitude = magnitude * 10 + high;
    if (i + 1 == value.size()) {
      if (low == 0x0C) return magnitude;
      if (low == 0x0D) return -magnitude;
      return bad(i);
    }
    if (low > 9) return bad(i);
    magnitude = magnitude * 10 + low;
  }
  return bad(value.size());
}

std::string RateText(double rate) {
  const auto tenThousandths = static_cast<long long>(std::nearbyint(rate * 10000.0));
  std::string text = std::to_string(tenThousandths);
  text.insert(text.size() >= 2 ? text.size() - 2 : 0, ".");
  return text;
}

Bytes PackRate(std::string_view rateText) {
  std::string text(rateText);
  while (text.size() < 5)
    text.insert(text.begin(), '0');
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) {
    text += "00";
  } else if (dot == 4) {  // position 5: as if there were none
    text.erase(dot, 1);
    text += "00";
  } else if (dot == 2) {
    text.erase(dot, 1);
  } else if (dot == 3) {
    text.erase(dot, 1);
    text += "0";
  } else {
    return {};
  }
  while (text.size() >= 5)
    text.erase(text.begin());
  if (text.size() > 3 && text.starts_with("00")) text.erase(0, 2);
  auto packed = PackDigits(text);
  return packed ? *packed : Bytes{};
}

std::string CleanIdentifier(std::string_view text) {
  std::string cleaned;
  for (char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code <= 0x20 || code == 0x7F) continue;
    if (cleaned.size() == 16) break;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const bool kept = c == '#' || IsDigit(c) || (c >= 'a' && c <= 'z');
    cleaned.push_back(kept ? c : '#');
  }
  return cleaned;
}

}  // namespace kasse
