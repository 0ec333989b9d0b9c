#include "sim/tlv.h"

namespace kasse::sim {

Result<std::vector<Element>> SplitElements(ByteSpan data) {
  return ReadTlvElements(data);
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
