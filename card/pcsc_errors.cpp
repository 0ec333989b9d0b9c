#include "card/pcsc_errors.h"

#include <cstdio>

#include "card/card_messages.h"

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

const MessageId& FaultMessage(CardFault fault) {
  switch (fault) {
    case CardFault::kNone:
    case CardFault::kOther:
      break;
    case CardFault::kCancelled:
      return card_msg::kCancelled;
    case CardFault::kServiceStopped:
      return card_msg::kServiceStopped;
    case CardFault::kNoReaders:
      return card_msg::kNoCardReader;
    case CardFault::kReaderRemoved:
      return card_msg::kReaderRemoved;
    case CardFault::kNoCard:
      return card_msg::kNoCardInReader;
    case CardFault::kCardRemoved:
      return card_msg::kCardRemoved;
    case CardFault::kCardReset:
      return card_msg::kCardReset;
    case CardFault::kCardUnresponsive:
      return card_msg::kCardNotAnsweringReader;
    case CardFault::kCardShared:
      return card_msg::kCardHeldElsewhere;
    case CardFault::kTimeout:
      return card_msg::kTimeout;
    case CardFault::kServiceFault:
      return card_msg::kServiceFault;
    case CardFault::kReaderFault:
      return card_msg::kReaderFault;
    case CardFault::kCardUnusable:
      return card_msg::kCardUnusable;
    case CardFault::kAccessRefused:
      return card_msg::kAccessRefused;
    case CardFault::kCardDataMissing:
      return card_msg::kCardDataMissing;
    case CardFault::kRequestRefused:
      return card_msg::kRequestRefused;
  }
  return card_msg::kOtherCode;
}

Error FaultError(CardFault fault, PcscCode code) {
  // Each text that has a place for the code gets it: the operator may have to report it.
  return MakeError(fault == CardFault::kCardShared ? ErrorKind::kBusy : ErrorKind::kCard,
                   FaultMessage(fault), {PcscCodeText(code)});
}

CardFault FaultOf(const Error& error) {
  for (const CardFault fault :
       {CardFault::kServiceStopped, CardFault::kNoReaders, CardFault::kReaderRemoved,
        CardFault::kNoCard, CardFault::kCardRemoved, CardFault::kCardReset,
        CardFault::kCardUnresponsive, CardFault::kCardShared, CardFault::kTimeout,
        CardFault::kCancelled, CardFault::kServiceFault, CardFault::kReaderFault,
        CardFault::kCardUnusable, CardFault::kAccessRefused, CardFault::kCardDataMissing,
        CardFault::kRequestRefused, CardFault::kOther})
    if (error.Is(FaultMessage(fault))) return fault;
  return CardFault::kNone;
}

}  // namespace kasse
