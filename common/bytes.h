#pragma once
// Byte strings and cp1252 texts: the two currencies of the core.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kasse {

using Byte = std::uint8_t;
using Bytes = std::vector<Byte>;
using ByteSpan = std::span<const Byte>;

// Texts inside the core are cp1252 bytes held in std::string (the euro sign is 0x80).
inline Bytes ToBytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}
inline std::string ToText(ByteSpan bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace kasse
