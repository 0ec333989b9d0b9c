#include "card/pcsc_lite.h"

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <algorithm>
#include <vector>

namespace kasse {
namespace {

// The codes the other backends and pcsc_errors use are the service's own.
static_assert(pcsc::kNoService == static_cast<PcscCode>(SCARD_E_NO_SERVICE));
static_assert(pcsc::kServiceStopped == static_cast<PcscCode>(SCARD_E_SERVICE_STOPPED));
static_assert(pcsc::kNoReaders == static_cast<PcscCode>(SCARD_E_NO_READERS_AVAILABLE));
static_assert(pcsc::kReaderUnavailable == static_cast<PcscCode>(SCARD_E_READER_UNAVAILABLE));
static_assert(pcsc::kUnknownReader == static_cast<PcscCode>(SCARD_E_UNKNOWN_READER));
static_assert(pcsc::kNoSmartcard == static_cast<PcscCode>(SCARD_E_NO_SMARTCARD));
static_assert(pcsc::kRemovedCard == static_cast<PcscCode>(SCARD_W_REMOVED_CARD));
static_assert(pcsc::kResetCard == static_cast<PcscCode>(SCARD_W_RESET_CARD));
static_assert(pcsc::kUnresponsiveCard == static_cast<PcscCode>(SCARD_W_UNRESPONSIVE_CARD));
static_assert(pcsc::kUnpoweredCard == static_cast<PcscCode>(SCARD_W_UNPOWERED_CARD));
static_assert(pcsc::kSharingViolation == static_cast<PcscCode>(SCARD_E_SHARING_VIOLATION));
static_assert(pcsc::kCommError == static_cast<PcscCode>(SCARD_F_COMM_ERROR));
static_assert(pcsc::kTimeout == static_cast<PcscCode>(SCARD_E_TIMEOUT));
static_assert(pcsc::kStateUnknown == SCARD_STATE_UNKNOWN);
static_assert(pcsc::kStateUnavailable == SCARD_STATE_UNAVAILABLE);

PcscCode Code(LONG rv) {
  return static_cast<PcscCode>(rv);
}

SCARDCONTEXT ContextOf(PcscHandle handle) {
  return static_cast<SCARDCONTEXT>(handle);
}

SCARDHANDLE CardOf(PcscHandle handle) {
  return static_cast<SCARDHANDLE>(handle);
}

}  // namespace

PcscCode PcscLiteApi::EstablishContext(PcscHandle& context) {
  SCARDCONTEXT handle = 0;
  const LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &handle);
  context = rv == SCARD_S_SUCCESS ? static_cast<PcscHandle>(handle) : 0;
  return Code(rv);
}

PcscCode PcscLiteApi::ReleaseContext(PcscHandle context) {
  return Code(SCardReleaseContext(ContextOf(context)));
}

bool PcscLiteApi::IsValidContext(PcscHandle context) {
  return context != 0 && SCardIsValidContext(ContextOf(context)) == SCARD_S_SUCCESS;
}

PcscCode PcscLiteApi::ListReaders(PcscHandle context, std::string& multiString) {
  multiString.clear();
  DWORD length = 0;
  LONG rv = SCardListReaders(ContextOf(context), nullptr, nullptr, &length);
  if (rv != SCARD_S_SUCCESS) return Code(rv);
  std::vector<char> buffer(length + 1, '\0');
  rv = SCardListReaders(ContextOf(context), nullptr, buffer.data(), &length);
  if (rv != SCARD_S_SUCCESS) return Code(rv);
  multiString.assign(buffer.data(), std::min<std::size_t>(length, buffer.size()));
  return pcsc::kSuccess;
}

PcscCode PcscLiteApi::Connect(PcscHandle context, const std::string& reader,
                              std::uint32_t protocols, PcscHandle& card,
                              std::uint32_t& activeProtocol) {
  SCARDHANDLE handle = 0;
  DWORD active = 0;
  const LONG rv = SCardConnect(ContextOf(context), reader.c_str(), SCARD_SHARE_SHARED, protocols,
                               &handle, &active);
  card = rv == SCARD_S_SUCCESS ? static_cast<PcscHandle>(handle) : 0;
  activeProtocol = rv == SCARD_S_SUCCESS ? static_cast<std::uint32_t>(active) : 0;
  return Code(rv);
}

PcscCode PcscLiteApi::Disconnect(PcscHandle card, Disposition disposition) {
  return Code(SCardDisconnect(
      CardOf(card), disposition == Disposition::kResetCard ? SCARD_RESET_CARD : SCARD_LEAVE_CARD));
}

PcscCode PcscLiteApi::GetStatusChange(PcscHandle context, const std::string& reader,
                                      std::uint32_t currentState, std::uint32_t& eventState,
                                      std::chrono::milliseconds timeout) {
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = currentState;
  state.dwEventState = eventState;
  const DWORD wait = timeout.count() < 0 ? INFINITE : static_cast<DWORD>(timeout.count());
  const LONG rv = SCardGetStatusChange(ContextOf(context), wait, &state, 1);
  eventState = static_cast<std::uint32_t>(state.dwEventState);
  return Code(rv);
}

PcscCode PcscLiteApi::Cancel(PcscHandle context) {
  return Code(SCardCancel(ContextOf(context)));
}

PcscCode PcscLiteApi::GetAttrib(PcscHandle card, std::uint32_t attributeId, std::size_t maxLength,
                                Bytes& value) {
  value.assign(maxLength, 0);
  DWORD length = static_cast<DWORD>(maxLength);
  LONG rv = SCardGetAttrib(CardOf(card), attributeId, value.data(), &length);
  const bool fromStatus =
      attributeId == pcsc::kAttrAtrString || attributeId == pcsc::kAttrCurrentProtocol;
  if (rv != SCARD_S_SUCCESS && fromStatus) {
    // Not every reader driver answers these attributes; the service itself knows both.
    char name[MAX_READERNAME] = {};
    DWORD nameLength = sizeof name;
    DWORD state = 0;
    DWORD protocol = 0;
    BYTE atr[MAX_ATR_SIZE] = {};
    DWORD atrLength = sizeof atr;
    rv = SCardStatus(CardOf(card), name, &nameLength, &state, &protocol, atr, &atrLength);
    if (rv == SCARD_S_SUCCESS && attributeId == pcsc::kAttrAtrString) {
      length = static_cast<DWORD>(std::min<std::size_t>(atrLength, maxLength));
      std::copy(atr, atr + length, value.begin());
    } else if (rv == SCARD_S_SUCCESS) {
      length = static_cast<DWORD>(std::min<std::size_t>(4, maxLength));
      for (DWORD i = 0; i < length; ++i)
        value[i] = static_cast<Byte>(protocol >> (8 * i));  // host order, as the attribute
    }
  }
  value.resize(rv == SCARD_S_SUCCESS ? std::min<std::size_t>(length, maxLength) : 0);
  return Code(rv);
}

PcscCode PcscLiteApi::Transmit(PcscHandle card, std::uint32_t protocol, ByteSpan command,
                               std::size_t maxResponse, Bytes& response) {
  const SCARD_IO_REQUEST* pci = nullptr;
  if (protocol == pcsc::kProtocolT0) pci = SCARD_PCI_T0;
  if (protocol == pcsc::kProtocolT1) pci = SCARD_PCI_T1;
  response.assign(maxResponse, 0);
  DWORD length = static_cast<DWORD>(maxResponse);
  const LONG rv =
      SCardTransmit(CardOf(card), pci, command.data(), static_cast<DWORD>(command.size()), nullptr,
                    response.data(), &length);
  response.resize(rv == SCARD_S_SUCCESS ? std::min<std::size_t>(length, maxResponse) : 0);
  return Code(rv);
}

}  // namespace kasse
