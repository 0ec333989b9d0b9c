#pragma once
// The PC/SC interface over the pcsc-lite service (pcscd).

#include "card/pcsc_api.h"

namespace kasse {

class PcscLiteApi final : public PcscApi {
 public:
  PcscCode EstablishContext(PcscHandle& context) override;
  PcscCode ReleaseContext(PcscHandle context) override;
  bool IsValidContext(PcscHandle context) override;
  PcscCode ListReaders(PcscHandle context, std::string& multiString) override;
  PcscCode Connect(PcscHandle context, const std::string& reader, std::uint32_t protocols,
                   PcscHandle& card, std::uint32_t& activeProtocol) override;
  PcscCode Disconnect(PcscHandle card, Disposition disposition) override;
  PcscCode GetStatusChange(PcscHandle context, const std::string& reader,
                           std::uint32_t currentState, std::uint32_t& eventState,
                           std::chrono::milliseconds timeout) override;
  PcscCode Cancel(PcscHandle context) override;
  PcscCode GetAttrib(PcscHandle card, std::uint32_t attributeId, std::size_t maxLength,
                     Bytes& value) override;
  PcscCode Transmit(PcscHandle card, std::uint32_t protocol, ByteSpan command,
                    std::size_t maxResponse, Bytes& response) override;
};

}  // namespace kasse
