#include "simreader/embedded_pcsc.h"

namespace kasse {
namespace {

std::uint32_t StateOf(VirtualReader& reader, std::uint64_t counter) {
  const std::uint32_t presence = reader.CardPresent() ? pcsc::kStatePresent : pcsc::kStateEmpty;
  return static_cast<std::uint32_t>((counter & 0xFFFF) << 16) | presence;
}

}  // namespace

void EmbeddedPcscApi::AddReader(std::string name, VirtualReader& reader) {
  std::lock_guard lock(mutex_);
  slots_.push_back({std::move(name), &reader});
}

PcscCode EmbeddedPcscApi::EstablishContext(PcscHandle& context) {
  std::lock_guard lock(mutex_);
  context = ++lastHandle_;
  contexts_.insert(context);
  return pcsc::kSuccess;
}

PcscCode EmbeddedPcscApi::ReleaseContext(PcscHandle context) {
  std::lock_guard lock(mutex_);
  cancelled_.erase(context);
  return contexts_.erase(context) != 0 ? pcsc::kSuccess : pcsc::kInvalidHandle;
}

bool EmbeddedPcscApi::IsValidContext(PcscHandle context) {
  std::lock_guard lock(mutex_);
  return contexts_.count(context) != 0;
}

PcscCode EmbeddedPcscApi::ListReaders(PcscHandle context, std::string& multiString) {
  std::lock_guard lock(mutex_);
  multiString.clear();
  if (contexts_.count(context) == 0) return pcsc::kInvalidHandle;
  if (slots_.empty()) return pcsc::kNoReaders;
  for (const Slot& slot : slots_) {
    multiString += slot.name;
    multiString += '\0';
  }
  multiString += '\0';
  return pcsc::kSuccess;
}

VirtualReader* EmbeddedPcscApi::FindReader(const std::string& name) {
  for (const Slot& slot : slots_)
    if (slot.name == name) return slot.reader;
  return nullptr;
}

VirtualReader* EmbeddedPcscApi::CardReader(PcscHandle card) {
  std::lock_guard lock(mutex_);
  const auto found = cards_.find(card);
  return found == cards_.end() ? nullptr : slots_[found->second].reader;
}

PcscCode EmbeddedPcscApi::Connect(PcscHandle context, const std::string& reader,
                                  std::uint32_t protocols, PcscHandle& card,
                                  std::uint32_t& activeProtocol) {
  std::lock_guard lock(mutex_);
  card = 0;
  activeProtocol = 0;
  if (contexts_.count(context) == 0) return pcsc::kInvalidHandle;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    if (slots_[i].name != reader) continue;
    if (!slots_[i].reader->CardPresent()) return pcsc::kNoSmartcard;
    if ((protocols & pcsc::kProtocolT1) == 0) return pcsc::kNotTransacted;
    card = ++lastHandle_;
    cards_[card] = i;
    activeProtocol = pcsc::kProtocolT1;
    return pcsc::kSuccess;
  }
  return pcsc::kUnknownReader;
}

PcscCode EmbeddedPcscApi::Disconnect(PcscHandle card, Disposition) {
  std::lock_guard lock(mutex_);
  return cards_.erase(card) != 0 ? pcsc::kSuccess : pcsc::kInvalidHandle;
}

bool EmbeddedPcscApi::TakeCancel(PcscHandle context) {
  std::lock_guard lock(mutex_);
  return cancelled_.erase(context) != 0;
}

PcscCode EmbeddedPcscApi::GetStatusChange(PcscHandle context, const std::string& name,
                                          std::uint32_t currentState, std::uint32_t& eventState,
                                          std::chrono::milliseconds timeout) {
  VirtualReader* reader = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (contexts_.count(context) == 0) return pcsc::kInvalidHandle;
    reader = FindReader(name);
  }
  if (reader == nullptr) return pcsc::kUnknownReader;
  const bool forever = timeout.count() < 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (TakeCancel(context)) return pcsc::kCancelled;
    const std::uint64_t counter = reader->ChangeCounter();
    const std::uint32_t state = StateOf(*reader, counter);
    if (state != (currentState & ~pcsc::kStateChanged)) {
      eventState = state | pcsc::kStateChanged;
      return pcsc::kSuccess;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!forever && left.count() <= 0) return pcsc::kTimeout;
    reader->WaitForChange(counter, forever ? std::chrono::milliseconds(60000) : left);
  }
}

PcscCode EmbeddedPcscApi::Cancel(PcscHandle context) {
  std::vector<VirtualReader*> readers;
  {
    std::lock_guard lock(mutex_);
    if (contexts_.count(context) == 0) return pcsc::kInvalidHandle;
    cancelled_.insert(context);
    for (const Slot& slot : slots_)
      readers.push_back(slot.reader);
  }
  for (VirtualReader* reader : readers)
    reader->Cancel();
  return pcsc::kSuccess;
}

PcscCode EmbeddedPcscApi::GetAttrib(PcscHandle card, std::uint32_t attributeId,
                                    std::size_t maxLength, Bytes& value) {
  value.clear();
  VirtualReader* reader = CardReader(card);
  if (reader == nullptr) return pcsc::kInvalidHandle;
  if (attributeId == pcsc::kAttrAtrString) value = reader->Atr();
  if (attributeId == pcsc::kAttrVendorName) value = ToBytes("Kasse");
  if (attributeId == pcsc::kAttrVendorSerial) value = ToBytes("0001");
  if (attributeId == pcsc::kAttrCurrentProtocol) value = {pcsc::kProtocolT1, 0, 0, 0};
  if (attributeId == pcsc::kAttrIccTypePerAtr) value = {1, 0, 0, 0};
  if (value.empty()) return pcsc::kNotTransacted;
  if (value.size() > maxLength) {
    value.clear();
    return pcsc::kInsufficientBuffer;
  }
  return pcsc::kSuccess;
}

PcscCode EmbeddedPcscApi::Transmit(PcscHandle card, std::uint32_t, ByteSpan command,
                                   std::size_t maxResponse, Bytes& response) {
  response.clear();
  VirtualReader* reader = CardReader(card);
  if (reader == nullptr) return pcsc::kInvalidHandle;
  Result<Bytes> answer = reader->Transmit(command);
  if (!answer) return pcsc::kRemovedCard;
  if (answer->size() > maxResponse) return pcsc::kInsufficientBuffer;
  response = std::move(*answer);
  return pcsc::kSuccess;
}

}  // namespace kasse
