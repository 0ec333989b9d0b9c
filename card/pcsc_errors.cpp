#include "card/pcsc_errors.h"

#include <cstdio>

namespace kasse {

CardFault FaultOf(PcscCode code) {
  switch (code) {
    case pcsc::kSuccess:
      return CardFault::kNone;
    case pcsc::kNoService:
    case pcsc::kServiceStopped:
      return CardFault::kServiceStopped;
    case pcsc::kNoReaders:
      return CardFault::kNoReaders;
    case pcsc::kUnknownReader:
    case pcsc::kReaderUnavailable:
      return CardFault::kReaderRemoved;
    case pcsc::kNoSmartcard:
      return CardFault::kNoCard;
    case pcsc::kRemovedCard:
      return CardFault::kCardRemoved;
    case pcsc::kResetCard:
      return CardFault::kCardReset;
    case pcsc::kUnresponsiveCard:
    case pcsc::kUnpoweredCard:
      return CardFault::kCardUnresponsive;
    case pcsc::kSharingViolation:
      return CardFault::kCardShared;
    case pcsc::kTimeout:
      return CardFault::kTimeout;
    case pcsc::kCancelled:
      return CardFault::kCancelled;
    default:
      return CardFault::kOther;
  }
}

std::string PcscCodeText(PcscCode code) {
  char text[16] = {};
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

Error FaultError(CardFault fault, PcscCode code) {
  switch (fault) {
    case CardFault::kNone:
    case CardFault::kCancelled:
    case CardFault::kOther:
      break;
    case CardFault::kServiceStopped:
      return MakeError(ErrorKind::kCard, "the PC/SC service is not running");
    case CardFault::kNoReaders:
      return MakeError(ErrorKind::kCard, "no card reader is connected");
    case CardFault::kReaderRemoved:
      return MakeError(ErrorKind::kCard, "the card reader was removed");
    case CardFault::kNoCard:
      return MakeError(ErrorKind::kCard, "there is no card in the reader");
    case CardFault::kCardRemoved:
      return MakeError(ErrorKind::kCard, "the QOR card was removed");
    case CardFault::kCardReset:
      return MakeError(ErrorKind::kCard, "the QOR card was reset");
    case CardFault::kCardUnresponsive:
      return MakeError(ErrorKind::kCard, "the QOR card does not answer its reader");
    case CardFault::kCardShared:
      return MakeError(ErrorKind::kBusy, "another program holds the card");
    case CardFault::kTimeout:
      return MakeError(ErrorKind::kCard, "the PC/SC service did not answer in time");
  }
  return MakeError(ErrorKind::kCard, "the card reader reported the error " + PcscCodeText(code));
}

}  // namespace kasse
