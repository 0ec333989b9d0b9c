#pragma once
// One-byte-tag, one-byte-length elements as the card writes them; reading goes through the
// common reader.

#include <cstdint>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"
#include "common/tlv_reader.h"

namespace kasse::sim {

using Element = TlvElement;

// Splits data into elements; the error names the element that runs past the end.
Result<std::vector<Element>> SplitElements(ByteSpan data);

void AppendElement(Bytes& out, Byte tag, ByteSpan value);
// Unsigned big-endian in four bytes.
void AppendUint32(Bytes& out, Byte tag, std::uint32_t value);

std::uint32_t ReadUint32(ByteSpan value);

}  // namespace kasse::sim
