#pragma once
// The PC/SC calls the connector needs, behind one interface so that the real service
// (pcsc-lite) and the in-process simulated reader serve the same connector logic. Return codes
// are the PC/SC ones (SCARD_S_SUCCESS = 0, SCARD_E_... as 32-bit values) on every backend;
// card/pcsc_errors.h says what they mean.
// Thread use: GetStatusChange blocks on a watcher thread; Cancel is called from another thread
// to end it. Every other call comes from the owner's thread.

#include <chrono>
#include <cstdint>
#include <string>

#include "common/bytes.h"

namespace kasse {

using PcscCode = std::uint32_t;
using PcscHandle = std::int64_t;  // context or card handle; 0 = none

namespace pcsc {
inline constexpr PcscCode kSuccess = 0;
inline constexpr PcscCode kCancelled = 0x80100002;      // SCARD_E_CANCELLED
inline constexpr PcscCode kInvalidHandle = 0x80100003;  // SCARD_E_INVALID_HANDLE
inline constexpr PcscCode kInsufficientBuffer = 0x80100008;
inline constexpr PcscCode kUnknownReader = 0x80100009;      // SCARD_E_UNKNOWN_READER
inline constexpr PcscCode kTimeout = 0x8010000A;            // SCARD_E_TIMEOUT
inline constexpr PcscCode kSharingViolation = 0x8010000B;   // SCARD_E_SHARING_VIOLATION
inline constexpr PcscCode kNoSmartcard = 0x8010000C;        // SCARD_E_NO_SMARTCARD
inline constexpr PcscCode kCommError = 0x80100013;          // SCARD_F_COMM_ERROR
inline constexpr PcscCode kNotTransacted = 0x80100016;      // SCARD_E_NOT_TRANSACTED
inline constexpr PcscCode kReaderUnavailable = 0x80100017;  // SCARD_E_READER_UNAVAILABLE
inline constexpr PcscCode kNoService = 0x8010001D;          // SCARD_E_NO_SERVICE
inline constexpr PcscCode kServiceStopped = 0x8010001E;     // SCARD_E_SERVICE_STOPPED
inline constexpr PcscCode kNoReaders = 0x8010002E;          // SCARD_E_NO_READERS_AVAILABLE
inline constexpr PcscCode kUnresponsiveCard = 0x80100066;   // SCARD_W_UNRESPONSIVE_CARD
inline constexpr PcscCode kUnpoweredCard = 0x80100067;      // SCARD_W_UNPOWERED_CARD
inline constexpr PcscCode kResetCard = 0x80100068;          // SCARD_W_RESET_CARD
inline constexpr PcscCode kRemovedCard = 0x80100069;        // SCARD_W_REMOVED_CARD

// Reader event states (SCARD_STATE_...).
inline constexpr std::uint32_t kStateUnaware = 0x0000;
inline constexpr std::uint32_t kStateIgnore = 0x0001;
inline constexpr std::uint32_t kStateChanged = 0x0002;
inline constexpr std::uint32_t kStateUnknown = 0x0004;      // the reader is gone
inline constexpr std::uint32_t kStateUnavailable = 0x0008;  // the reader cannot be used
inline constexpr std::uint32_t kStateEmpty = 0x0010;
inline constexpr std::uint32_t kStatePresent = 0x0020;
inline constexpr std::uint32_t kStateMute = 0x0200;

// Protocols (SCARD_PROTOCOL_T0 / T1) and the mask the connector offers.
inline constexpr std::uint32_t kProtocolT0 = 1;
inline constexpr std::uint32_t kProtocolT1 = 2;
inline constexpr std::uint32_t kProtocolMask = 3;

// Attribute identifiers: class in the high word, tag in the low word.
constexpr std::uint32_t AttributeId(std::uint32_t attrClass, std::uint32_t tag) {
  return (attrClass << 16) | tag;
}
inline constexpr std::uint32_t kAttrVendorName = AttributeId(1, 0x0100);
inline constexpr std::uint32_t kAttrVendorSerial = AttributeId(1, 0x0103);
inline constexpr std::uint32_t kAttrCurrentProtocol = AttributeId(8, 0x0201);
inline constexpr std::uint32_t kAttrAtrString = AttributeId(9, 0x0303);
inline constexpr std::uint32_t kAttrIccTypePerAtr = AttributeId(9, 0x0304);

inline constexpr std::chrono::milliseconds kInfinite{-1};
}  // namespace pcsc

enum class Disposition { kLeaveCard, kResetCard };

class PcscApi {
 public:
  virtual ~PcscApi() = default;

  virtual PcscCode EstablishContext(PcscHandle& context) = 0;
  virtual PcscCode ReleaseContext(PcscHandle context) = 0;
  virtual bool IsValidContext(PcscHandle context) = 0;
  // The reader names as one multi-string: each name ends in a zero byte, a second zero ends
  // the list.
  virtual PcscCode ListReaders(PcscHandle context, std::string& multiString) = 0;
  virtual PcscCode Connect(PcscHandle context, const std::string& reader, std::uint32_t protocols,
                           PcscHandle& card, std::uint32_t& activeProtocol) = 0;
  virtual PcscCode Disconnect(PcscHandle card, Disposition disposition) = 0;
  // Blocks until the state of `reader` differs from `currentState`, the timeout passes
  // (pcsc::kInfinite: never) or Cancel is called on the context.
  virtual PcscCode GetStatusChange(PcscHandle context, const std::string& reader,
                                   std::uint32_t currentState, std::uint32_t& eventState,
                                   std::chrono::milliseconds timeout) = 0;
  virtual PcscCode Cancel(PcscHandle context) = 0;
  // At most maxLength bytes come back in `value`.
  virtual PcscCode GetAttrib(PcscHandle card, std::uint32_t attributeId, std::size_t maxLength,
                             Bytes& value) = 0;
  // `protocol` selects the protocol control information: T=0, T=1, or none (0).
  virtual PcscCode Transmit(PcscHandle card, std::uint32_t protocol, ByteSpan command,
                            std::size_t maxResponse, Bytes& response) = 0;
};

}  // namespace kasse
