#include "card/pin_mask.h"

#include <cstddef>
#include <vector>

#include "common/card_commands.h"
#include "common/card_tags.h"
#include "common/tlv_reader.h"

namespace kasse {

std::string CommandTextWithoutPin(ByteSpan command) {
  // Only the report commands carry a PIN: data from byte 5 on.
  if (command.size() < 7 || command[0] != cmd::kClaQor || command[1] != cmd::kInsReport)
    return CommandText(command);
  std::vector<bool> hidden(command.size(), false);
  // The data field is walked as one-byte tags and lengths; whatever runs past the command's
  // end is hidden up to the end, so a short PIN element never shows either.
  TlvReader reader(command.subspan(5), 5, TlvOverrun::kTakeRest);
  for (Result<TlvElement> element = reader.Next(); element; element = reader.Next()) {
    if (element->tag != tag::kPin) continue;
    for (std::size_t b = element->offset + 2; b < element->End() && b < command.size(); ++b)
      hidden[b] = true;
  }
  return CommandText(command, hidden);
}

}  // namespace kasse
