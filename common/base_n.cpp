#include "common/base_n.h"

#include <array>

namespace kasse {
namespace {

constexpr char kBase32Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c, Base64Alphabet alphabet) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (alphabet == Base64Alphabet::kStandard) {
    if (c == '+') return 62;
    if (c == '/') return 63;
  } else {
    if (c == '-') return 62;
    if (c == '_') return 63;
  }
  return -1;
}

}  // namespace

std::string Base32Encode(ByteSpan bytes) {
  std::string text;
  text.reserve((bytes.size() * 8 + 4) / 5 + 4);
  unsigned buffer = 0;
  int bits = 0;
  for (Byte b : bytes) {
    buffer = (buffer << 8) | b;
    bits += 8;
    while (bits >= 5) {
      text.push_back(kBase32Alphabet[(buffer >> (bits - 5)) & 0x1F]);
      bits -= 5;
    }
    buffer &= (1u << bits) - 1;
  }
  if (bits > 0) {
    const int fill = 5 - bits;
    text.push_back(kBase32Alphabet[(buffer << fill) & 0x1F]);
    text.append(static_cast<std::size_t>(fill), '=');
  }
  return text;
}

std::string Base64Encode(ByteSpan bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6)
      text.push_back(kBase64Alphabet[(v >> shift) & 63]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = bytes[i] << 16;
    if (rest == 2) v |= bytes[i + 1] << 8;
    text.push_back(kBase64Alphabet[(v >> 18) & 63]);
    text.push_back(kBase64Alphabet[(v >> 12) & 63]);
    text.push_back(rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=');
    text.push_back('=');
  }
  return text;
}

Result<Bytes> Base64Decode(std::string_view text, Base64Alphabet alphabet) {
  std::size_t padding = 0;
  while (!text.empty() && text.back() == '=' && padding < 2) {
    text.remove_suffix(1);
    ++padding;
  }
  if ((alphabet == Base64Alphabet::kStandard && (text.size() + padding) % 4 != 0) ||
      text.size() % 4 == 1)
    return MakeError(ErrorKind::kMalformed, "Base64: length not a multiple of four",
                     text.size() + padding);
  Bytes bytes;
  bytes.reserve(text.size() * 3 / 4);
  unsigned buffer = 0;
  int bits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int value = Base64Value(text[i], alphabet);
    if (value < 0) return MakeError(ErrorKind::kMalformed, "Base64: not a Base64 character", i);
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bytes.push_back(static_cast<Byte>(buffer >> (bits - 8)));
      bits -= 8;
      buffer &= (1u << bits) - 1;
    }
  }
  if (buffer != 0)  // non-canonical trailing bits
    return MakeError(ErrorKind::kMalformed, "Base64: trailing bits set", text.size() - 1);
  return bytes;
}

}  // namespace kasse
