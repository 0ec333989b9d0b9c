#include "card/pin_mask.h"

#include <cstddef>
#include <vector>

#include "common/card_tags.h"
#include "common/hex_text.h"
#include "common/tlv_reader.h"

namespace kasse {
namespace {

// Where each byte of a command text stands, read exactly as HexParse reads it.
struct ByteSpanInText {
  std::size_t first = 0;
  std::size_t last = 0;  // inclusive
};

std::vector<ByteSpanInText> BytePositions(std::string_view text) {
  std::vector<ByteSpanInText> positions;
  std::size_t pendingAt = 0;
  bool pending = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ') {
      if (pending) positions.push_back({pendingAt, pendingAt});
      pending = false;
    } else if (!pending) {
      pendingAt = i;
      pending = true;
    } else {
      positions.push_back({pendingAt, i});
      pending = false;
    }
  }
  if (pending) positions.push_back({pendingAt, pendingAt});
  return positions;
}

}  // namespace

std::string MaskPinInCommand(std::string_view command) {
  std::string masked(command);
  const Bytes bytes = HexParse(command);
  // Only the report commands carry a PIN: CLA 80, INS 42, data from byte 5 on.
  if (bytes.size() < 7 || bytes[0] != 0x80 || bytes[1] != 0x42) return masked;
  const std::vector<ByteSpanInText> positions = BytePositions(command);
  // The data field is walked as one-byte tags and lengths; whatever runs past the command's
  // end is masked up to the end, so a short PIN element never shows either.
  TlvReader reader(ByteSpan(bytes).subspan(5), 5, TlvOverrun::kTakeRest);
  for (Result<TlvElement> element = reader.Next(); element; element = reader.Next()) {
    if (element->tag != tag::kPin) continue;
    for (std::size_t b = element->offset + 2; b < element->End() && b < positions.size(); ++b)
      for (std::size_t c = positions[b].first; c <= positions[b].last; ++c)
        masked[c] = '*';
  }
  return masked;
}

}  // namespace kasse
