#pragma once
// RFC 4648 Base32 and Base64 as the register writes them.

#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

// Base32 without padding to a multiple of eight: a short last group gives only the characters
// its bits need, then one "=" per fill bit of the last character (0 to 4).
std::string Base32Encode(ByteSpan bytes);

// Standard alphabet with "=" padding to a multiple of four.
std::string Base64Encode(ByteSpan bytes);

enum class Base64Alphabet { kStandard, kUrlSafe };

// Strict decoding: the length must be a multiple of four (padding may be omitted with
// kUrlSafe); the error's offset is the character where decoding stopped.
Result<Bytes> Base64Decode(std::string_view text,
                           Base64Alphabet alphabet = Base64Alphabet::kStandard);

}  // namespace kasse
