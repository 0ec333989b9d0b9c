#pragma once
// One-byte-tag, one-byte-length elements as the card reads and writes them.

#include <cstdint>
#include <optional>
#include <vector>

#include "common/bytes.h"

namespace kasse::sim {

struct Element {
  Byte tag = 0;
  ByteSpan value;
};

// Splits data into elements; nothing when an element runs past the end.
std::optional<std::vector<Element>> SplitElements(ByteSpan data);

void AppendElement(Bytes& out, Byte tag, ByteSpan value);
// Unsigned big-endian in four bytes.
void AppendUint32(Bytes& out, Byte tag, std::uint32_t value);

std::uint32_t ReadUint32(ByteSpan value);

}  // namespace kasse::sim
