#include "common/hex_text.h"

namespace kasse {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

}  // namespace

std::string HexWritten(ByteSpan bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (Byte b : bytes) {
    if (!text.empty()) text.push_back(' ');
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

std::string HexCompact(ByteSpan bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (Byte b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

Bytes HexParse(std::string_view text) {
  Bytes bytes;
  bytes.reserve(text.size() / 2 + 1);
  int pending = -1;
  for (char c : text) {
    if (c == ' ') {
      if (pending >= 0) bytes.push_back(static_cast<Byte>(pending));
      pending = -1;
    } else if (pending < 0) {
      pending = DigitValue(c);
    } else {
      bytes.push_back(static_cast<Byte>(pending * 16 + DigitValue(c)));
      pending = -1;
    }
  }
  if (pending >= 0) bytes.push_back(static_cast<Byte>(pending));
  return bytes;
}

std::string StripBlanks(std::string_view text) {
  std::string stripped;
  stripped.reserve(text.size());
  for (char c : text)
    if (c != ' ') stripped.push_back(c);
  return stripped;
}

}  // namespace kasse
