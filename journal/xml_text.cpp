#include "journal/xml_text.h"

#include <array>
#include <utility>

namespace kasse {

std::string XmlEscape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string XmlUnescape(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, char>, 5> kEntities{
      {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}}};
  std::string plain;
  plain.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& [entity, character] : kEntities) {
        if (text.substr(i).starts_with(entity)) {
          plain += character;
          i += entity.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) plain += text[i++];
  }
  return plain;
}

}  // namespace kasse
