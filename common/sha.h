#pragma once
// Message digests through OpenSSL: SHA-1 (FIPS 180-1) for the item list, SHA-256 for
// signatures.

#include <array>

#include "common/bytes.h"

namespace kasse {

using Sha1Digest = std::array<Byte, 20>;
using Sha256Digest = std::array<Byte, 32>;

Sha1Digest Sha1(ByteSpan data);
Sha256Digest Sha256(ByteSpan data);

}  // namespace kasse
