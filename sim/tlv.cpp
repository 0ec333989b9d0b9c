#include "sim/tlv.h"

namespace kasse::sim {

std::optional<std::vector<Element>> SplitElements(ByteSpan data) {
  std::vector<Element> elements;
  std::size_t i = 0;
  while (i < data.size()) {
    if (i + 2 > data.size()) return std::nullopt;
    const std::size_t length = data[i + 1];
    if (i + 2 + length > data.size()) return std::nullopt;
    elements.push_back({data[i], data.subspan(i + 2, length)});
    i += 2 + length;
  }
  return elements;
}

void AppendElement(Bytes& out, Byte tag, ByteSpan value) {
  out.push_back(tag);
  out.push_back(static_cast<Byte>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
}

void AppendUint32(Bytes& out, Byte tag, std::uint32_t value) {
  const Byte bytes[] = {static_cast<Byte>(value >> 24), static_cast<Byte>(value >> 16),
                        static_cast<Byte>(value >> 8), static_cast<Byte>(value)};
  AppendElement(out, tag, bytes);
}

std::uint32_t ReadUint32(ByteSpan value) {
  std::uint32_t result = 0;
  for (const Byte b : value)
    result = (result << 8) | b;
  return result;
}

}  // namespace kasse::sim
