#pragma once
// What a PC/SC return code means for the register, decided here once for every backend: the
// kind of fault, and the message that tells the operator what happened (card/card_messages.h).
// An error carries the fault as its message, so the fault is known up to the window's edge.

#include <string>

#include "card/pcsc_api.h"
#include "common/result.h"

namespace kasse {

enum class CardFault {
  kNone,              // success
  kServiceStopped,    // the PC/SC service is not running or went
  kNoReaders,         // no reader is connected
  kReaderRemoved,     // the reader went or cannot be used any more
  kNoCard,            // the reader holds no card
  kCardRemoved,       // the card left its reader
  kCardReset,         // the card was reset under the connection
  kCardUnresponsive,  // the card does not answer its reader (mute or unpowered)
  kCardShared,        // another program holds the card
  kTimeout,           // the service did not answer in time
  kCancelled,         // a wait was ended on purpose; no fault of the card
  kServiceFault,      // the service failed inside (memory, internal error, shutting down)
  kReaderFault,       // the reader could not pass a command on, or cannot serve this card
  kCardUnusable,      // the card in the reader is not one the register can use
  kAccessRefused,     // the card refused access (security state, PIN)
  kCardDataMissing,   // the card lacks a file, key or certificate asked for
  kRequestRefused,    // the service refused a request of the register as malformed
  kOther,             // a code no version of the service known here defines
};

CardFault FaultOf(PcscCode code);

// "0x80100069": how a code is written where no words fit it.
std::string PcscCodeText(PcscCode code);

// The message of each fault; kNone and kOther name the code.
const MessageId& FaultMessage(CardFault fault);
// The error that says what happened (kind kCard; kBusy for a card held by another program),
// with the code as its argument where the text has a place for it.
Error FaultError(CardFault fault, PcscCode code = pcsc::kSuccess);
// The fault an error of FaultError carries; kNone for any other error.
CardFault FaultOf(const Error& error);
inline Error PcscError(PcscCode code) {
  return FaultError(FaultOf(code), code);
}

}  // namespace kasse
