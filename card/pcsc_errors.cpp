#include "card/pcsc_errors.h"

#include <cstdio>

namespace kasse {
namespace {

// Every other code the service defines (SCARD_E_, SCARD_F_, SCARD_P_ and SCARD_W_), grouped
// by what the operator can do about it.
CardFault FaultOfTheRest(PcscCode code) {
  switch (code) {
    case 0x80100001:  // internal error
    case 0x80100006:  // no memory
    case 0x80100007:  // waited too long
    case 0x80100012:  // cancelled by the system
    case 0x80100014:  // unknown error
    case 0x80100018:  // shutting down
    case 0x8010001F:  // unexpected, unsupported feature
    case 0x8010002B:  // unknown resource manager
    case 0x80100031:  // server too busy
      return CardFault::kServiceFault;
    case 0x80100005:  // invalid target
    case 0x80100010:  // reader not ready
    case 0x80100013:  // communication error
    case 0x80100016:  // not transacted: the command did not get through
    case 0x8010001A:  // reader unsupported
    case 0x8010001B:  // duplicate reader
    case 0x8010002F:  // communication data lost
      return CardFault::kReaderFault;
    case 0x8010000D:  // unknown card
    case 0x8010000E:  // cannot dispose
    case 0x8010000F:  // protocol mismatch
    case 0x80100015:  // invalid ATR
    case 0x8010001C:  // card unsupported
    case 0x80100020:  // ICC installation
    case 0x80100021:  // ICC create order
    case 0x80100065:  // unsupported card
      return CardFault::kCardUnusable;
    case 0x80100027:  // no access
    case 0x8010002A:  // invalid CHV
    case 0x8010006A:  // security violation
    case 0x8010006B:  // wrong CHV
    case 0x8010006C:  // CHV blocked
    case 0x8010006E:  // cancelled by the user
    case 0x8010006F:  // card not authenticated
      return CardFault::kAccessRefused;
    case 0x80100023:  // directory not found
    case 0x80100024:  // file not found
    case 0x80100025:  // no directory
    case 0x80100026:  // no file
    case 0x80100028:  // write too many
    case 0x80100029:  // bad seek
    case 0x8010002C:  // no such certificate
    case 0x8010002D:  // certificate unavailable
    case 0x80100030:  // no key container
    case 0x8010006D:  // end of file
      return CardFault::kCardDataMissing;
    case 0x80100003:  // invalid handle
    case 0x80100004:  // invalid parameter
    case 0x80100008:  // insufficient buffer
    case 0x80100011:  // invalid value
    case 0x80100019:  // PCI too small
      return CardFault::kRequestRefused;
    default:
      return CardFault::kOther;
  }
}

}  // namespace

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
      return FaultOfTheRest(code);
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
    case CardFault::kOther:
      break;
    case CardFault::kCancelled:
      return MakeError(ErrorKind::kCard, "the wait for the card reader was cancelled");
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
    case CardFault::kServiceFault:
      return MakeError(ErrorKind::kCard, "the PC/SC service failed (" + PcscCodeText(code) +
                                             "); restart it (systemctl restart pcscd) and try "
                                             "again");
    case CardFault::kReaderFault:
      return MakeError(ErrorKind::kCard, "the card reader could not pass the command on (" +
                                             PcscCodeText(code) +
                                             "); unplug the reader and plug it in again");
    case CardFault::kCardUnusable:
      return MakeError(ErrorKind::kCard, "the card in the reader cannot be used here (" +
                                             PcscCodeText(code) +
                                             "): it is not a QOR card, or the reader does not "
                                             "support it");
    case CardFault::kAccessRefused:
      return MakeError(ErrorKind::kCard, "the card refused access (" + PcscCodeText(code) + ")");
    case CardFault::kCardDataMissing:
      return MakeError(ErrorKind::kCard,
                       "the card lacks the data asked for (" + PcscCodeText(code) + ")");
    case CardFault::kRequestRefused:
      return MakeError(ErrorKind::kCard, "the PC/SC service refused a request of the register (" +
                                             PcscCodeText(code) + "); please report this");
  }
  return MakeError(ErrorKind::kCard, "the card reader reported the error " + PcscCodeText(code));
}

}  // namespace kasse
