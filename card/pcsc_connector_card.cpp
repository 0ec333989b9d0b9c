// The connector's card-side details: attributes of reader and card, and the GSM probe.

#include "card/pcsc_connector.h"

namespace kasse {
namespace {

std::string TextOf(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

Result<CardAnswer> TPCSCConnector::TransmitWithStatus(ByteSpan command, ByteSpan data) {
  // GET RESPONSE after 9F xx is bounded: a card that keeps answering 9F must not loop forever.
  Bytes request(command.begin(), command.end());
  request.insert(request.end(), data.begin(), data.end());
  CardAnswer answer;
  for (int round = 0; round < 8; ++round) {
    Result<Bytes> response = Transmit(request);
    if (!response) return response.error();
    if (response->size() < 2)
      return MakeError(ErrorKind::kMalformed, "the card's answer has no status word");
    const Byte sw1 = (*response)[response->size() - 2];
    const Byte sw2 = response->back();
    answer.data.assign(response->begin(), response->end() - 2);
    answer.statusWord = static_cast<std::uint16_t>(sw1 << 8 | sw2);
    if (sw1 != cmd::kGsmAnswerWaiting) return answer;
    answer.data.assign(1, sw2);
    request = CommandBytes(cmd::kGsmGetResponse);
    request.push_back(sw2);
  }
  return answer;
}

void TPCSCConnector::GsmProbe() {
  const Result<CardAnswer> answer =
      TransmitWithStatus(CommandBytes(cmd::kGsmSelect, cmd::kGsmDirectory), {});
  if (!answer || !answer->Accepted()) return;
  const Bytes& data = answer->data;
  if (data.size() >= 6) gsmCurrentFile_.assign(data.begin() + 4, data.begin() + 6);
  if (data.size() >= 7 && data[6] == 4) {
    gsmFileInfo_ = data;
  } else {
    gsmDirInfo_ = data;
  }
  const Byte voltage = gsmDirInfo_.size() >= 14 ? gsmDirInfo_[13] : 0;
  gsmVoltage30_ = (voltage & 0x10) != 0;
  gsmVoltage18_ = (voltage & 0x20) != 0;
}

void TPCSCConnector::ReadAttributes() {
  Bytes value;
  api_.GetAttrib(card_, pcsc::kAttrAtrString, kAttributeBuffer, value);
  attrCardAtr_ = value;
  api_.GetAttrib(card_, pcsc::kAttrVendorName, kAttributeBuffer, value);
  attrVendorName_ = TextOf(value);
  api_.GetAttrib(card_, pcsc::kAttrVendorSerial, kAttributeBuffer, value);
  attrVendorSerial_ = TextOf(value);
  auto readWord = [&](std::uint32_t id, std::uint32_t& word) {
    word = 0;
    if (api_.GetAttrib(card_, id, 4, value) != pcsc::kSuccess || value.size() < 4) return false;
    for (int i = 3; i >= 0; --i)
      word = (word << 8) | value[static_cast<std::size_t>(i)];  // host order, little-endian
    return true;
  };
  std::uint32_t protocol = 0;
  readWord(pcsc::kAttrCurrentProtocol, protocol);
  attrProtocol_ = protocol;
  std::uint32_t iccType = 0;
  if (!readWord(pcsc::kAttrIccTypePerAtr, iccType)) {
    attrIccType_.clear();
  } else {
    attrIccType_ = iccType == 1 ? "ISO7816A" : iccType == 2 ? "ISO7816S" : "UNKNOWN";
  }
}

void TPCSCConnector::ClearAttributes() {
  attrCardAtr_.clear();
  attrVendorName_.clear();
  attrVendorSerial_.clear();
  attrIccType_.clear();
  attrProtocol_ = 0;
  gsmCurrentFile_.clear();
  gsmFileInfo_.clear();
  gsmDirInfo_.clear();
  gsmVoltage30_ = false;
  gsmVoltage18_ = false;
}

}  // namespace kasse
