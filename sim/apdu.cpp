#include "sim/apdu.h"

namespace kasse::sim {

Result<Apdu> ParseApdu(ByteSpan command) {
  if (command.size() < 4)
    return MakeError(ErrorKind::kMalformed, "command shorter than its header", command.size());
  Apdu apdu{command[0], command[1], command[2], command[3], {}, std::nullopt};
  if (command.size() == 4) return apdu;
  const auto leOf = [](Byte b) { return b == 0 ? std::size_t{256} : std::size_t{b}; };
  if (command.size() == 5) {
    apdu.le = leOf(command[4]);
    return apdu;
  }
  // Lc 00 would start an extended length, which this card does not take.
  const std::size_t lc = command[4];
  if (lc == 0) return MakeError(ErrorKind::kMalformed, "extended lengths are not taken", 4);
  if (command.size() == 5 + lc) {
    apdu.data = command.subspan(5, lc);
  } else if (command.size() == 6 + lc) {
    apdu.data = command.subspan(5, lc);
    apdu.le = leOf(command[5 + lc]);
  } else {
    return MakeError(ErrorKind::kMalformed, "command length disagrees with Lc", 4);
  }
  return apdu;
}

Bytes Answer(std::uint16_t statusWord) {
  return Answer(Bytes{}, statusWord);
}

Bytes Answer(Bytes data, std::uint16_t statusWord) {
  data.push_back(static_cast<Byte>(statusWord >> 8));
  data.push_back(static_cast<Byte>(statusWord));
  return data;
}

}  // namespace kasse::sim
