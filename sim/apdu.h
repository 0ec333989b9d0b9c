#pragma once
// ISO/IEC 7816-4 short command APDUs and the card's status words.

#include <cstdint>
#include <optional>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse::sim {

struct Apdu {
  Byte cla = 0;
  Byte ins = 0;
  Byte p1 = 0;
  Byte p2 = 0;
  ByteSpan data;
  std::optional<std::size_t> le;  // 1 to 256
};

// Cases 1 to 4 of ISO/IEC 7816-4 with short lengths; an error when the lengths disagree.
Result<Apdu> ParseApdu(ByteSpan command);

enum StatusWord : std::uint16_t {
  kSwOk = 0x9000,
  kSwEndOfFile = 0x6282,      // fewer bytes than Le before the end of the file
  kSwPinTriesLeft = 0x63C0,   // | tries left
  kSwMemoryFailure = 0x6581,  // the state could not be kept
  kSwWrongLength = 0x6700,
  kSwNoChaining = 0x6884,
  kSwPinBlocked = 0x6983,
  // The data object exists but cannot be given in its answer's form: booked months span
  // more than GET DATA 01F2 can carry (see card_commands.cpp).
  kSwDataNotUsable = 0x6984,
  kSwConditions = 0x6985,  // wrong lifecycle or nothing selected
  kSwBadSignature = 0x6988,
  kSwWrongData = 0x6A80,
  kSwNotFound = 0x6A82,
  kSwNoSpace = 0x6A84,
  kSwWrongP1P2 = 0x6A86,
  kSwDataNotFound = 0x6A88,
  kSwOutOfRange = 0x6B00,
  kSwUnknownIns = 0x6D00,
  kSwUnknownClass = 0x6E00,
  kSwNoDiagnosis = 0x6F00,
};

Bytes Answer(std::uint16_t statusWord);
Bytes Answer(Bytes data, std::uint16_t statusWord = kSwOk);

}  // namespace kasse::sim
