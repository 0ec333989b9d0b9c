#pragma once
// A small pcsc-lite client for the tests of qor-sim behind pcscd and vpcd: connects to the
// first vpcd reader, waits for the card and sends APDUs.

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "common/bytes.h"

namespace kasse::sim::testing {

class PcscClient {
 public:
  PcscClient() { SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_); }
  ~PcscClient() {
    Disconnect();
    SCardReleaseContext(context_);
  }
  PcscClient(const PcscClient&) = delete;
  PcscClient& operator=(const PcscClient&) = delete;

  // The vpcd reader of the given slot (slot 0 serves port 35963, slot 1 port 35964).
  std::optional<std::string> VpcdReader(int slot) const {
    char names[4096];
    DWORD size = sizeof names;
    if (SCardListReaders(context_, nullptr, names, &size) != SCARD_S_SUCCESS) return {};
    for (const char* name = names; *name; name += std::string(name).size() + 1) {
      const std::string reader = name;
      if (reader.find("Virtual PCD") != std::string::npos &&
          reader.ends_with(" 0" + std::to_string(slot))) {
        return reader;
      }
    }
    return std::nullopt;
  }

  // Tries until a card answers in the reader or the time is up.
  bool Connect(const std::string& reader, std::chrono::milliseconds patience) {
    Disconnect();
    const auto end = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < end) {
      // A restarted pcscd invalidates the context.
      if (SCardIsValidContext(context_) != SCARD_S_SUCCESS) {
        SCardReleaseContext(context_);
        SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_);
      }
      DWORD protocol = 0;
      if (SCardConnect(context_, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card_,
                       &protocol) == SCARD_S_SUCCESS) {
        connected_ = true;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  void Disconnect() {
    if (connected_) SCardDisconnect(card_, SCARD_LEAVE_CARD);
    connected_ = false;
  }

  // The answer with its status word; nothing when the exchange itself failed.
  std::optional<Bytes> Transmit(const Bytes& command) {
    if (!connected_) return std::nullopt;
    Byte answer[512];
    DWORD size = sizeof answer;
    if (SCardTransmit(card_, SCARD_PCI_T1, command.data(), static_cast<DWORD>(command.size()),
                      nullptr, answer, &size) != SCARD_S_SUCCESS) {
      return std::nullopt;
    }
    return Bytes(answer, answer + size);
  }

 private:
  SCARDCONTEXT context_ = 0;
  SCARDHANDLE card_ = 0;
  bool connected_ = false;
};

}  // namespace kasse::sim::testing
