#include "common/cp1252.h"

#include "common/file_messages.h"

#include <array>
#include <cstdint>

namespace kasse {
namespace {

// Code points of 0x80..0x9F; 0 marks the five undefined positions, kept as C1 controls.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t ToCodePoint(unsigned char c) {
  if (c >= 0x80 && c <= 0x9F) {
    const char32_t mapped = kHighControls[c - 0x80];
    return mapped != 0 ? mapped : c;
  }
  return c;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

char FromCodePoint(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (std::size_t i = 0; i < kHighControls.size(); ++i)
    if (kHighControls[i] == cp) return static_cast<char>(0x80 + i);
  if (cp >= 0x80 && cp <= 0x9F && kHighControls[cp - 0x80] == 0) return static_cast<char>(cp);
  return '?';
}

// Length of a valid UTF-8 sequence at text[i], with its code point; 0 when invalid.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  const char32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text)
    AppendUtf8(out, ToCodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8(text, i, cp);
    if (length == 0) {
      out.push_back(static_cast<char>(c));
      ++i;
    } else {
      out.push_back(FromCodePoint(cp));
      i += length;
    }
  }
  return out;
}

bool ConvertUtf8FileText(std::string& text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  const bool marked = text.starts_with(kByteOrderMark);
  bool multiByte = false;
  for (std::size_t i = marked ? kByteOrderMark.size() : 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8(text, i, cp);
    // A stray high byte: cp1252 after all, unless the mark says otherwise.
    if (length == 0 && !marked) return false;
    multiByte = true;
    i += length == 0 ? 1 : length;
  }
  if (!marked && !multiByte) return false;
  text = Utf8ToCp1252(std::string_view(text).substr(marked ? kByteOrderMark.size() : 0));
  return true;
}

Error Utf8FileNotice(std::string_view fileName) {
  return MakeError(ErrorKind::kUnusableInput, file_msg::kSavedAsUtf8, {std::string(fileName)});
}

}  // namespace kasse
