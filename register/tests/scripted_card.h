#pragma once
// A card backend for the register's tests: card/tests' scripted PC/SC service with one reader,
// whose QOR (activated, version level 2, KASSE001 number 300) answers the start-up check and
// then each command as the test scripted it. Sales and reports carry the time and what was
// booked, so the script names them by their header alone (SaleStep, "80 42 0A 00" for a
// deactivation); a sale that comes when nothing else is scripted is signed with the next
// sequence number.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "card/card_backend.h"
#include "card/tests/session_fixture.h"

namespace kasse::testing {

class ScriptedCard final : public CardBackend {
 public:
  static constexpr const char* kReader = "Scripted Reader";

  ScriptedCard() {
    pcsc_.AddReader(kReader, {{kSelectQor, "90 00", "// SELECT QOR application."}});
    pcsc_.Script(0, StatusSteps(0x03, 2));
    pcsc_.Script(0, CertificateSteps(Certificate(300)));
  }

  // The card's signature of sale `number`.
  static ApduStep SaleStep(std::uint32_t number) {
    const Bytes seqNo = {static_cast<Byte>(number >> 24), static_cast<Byte>(number >> 16),
                         static_cast<Byte>(number >> 8), static_cast<Byte>(number)};
    return {"80 40 00 00",
            Object("C4", ToBytes("KASSE001")) + " " + Object("C5", {0x00, 0x00, 0x01, 0x2C}) + " " +
                Object("CB", seqNo) + " " + Object("9E", Bytes(48, 0x5A)) + " 90 00",
            "// TRANSACTION, signed."};
  }

  PcscApi& Api() override { return pcsc_; }
  bool InProcess() const override { return inProcess; }
  std::optional<Error> StartError() const override {
    if (startError.empty()) return std::nullopt;
    return MakeError(ErrorKind::kIo, startError);
  }
  std::vector<std::string> TakeNotices() override {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(notices_, {});
  }

  // What the card says on its own; from any thread.
  void Notice(std::string text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    notices_.push_back(std::move(text));
  }
  // Takes the card out of its reader (a command then fails as PC/SC fails it), or puts it back
  // (rescanned as the script says).
  void SetPresent(bool present) {
    pcsc_.SetTransmitFailure(present ? pcsc::kSuccess : pcsc::kRemovedCard);
    pcsc_.SetState(0, (present ? pcsc::kStatePresent : pcsc::kStateEmpty) | pcsc::kStateChanged);
  }
  // The service: Script, HoldTransmits, Sent and the rest.
  FakePcsc& Pcsc() { return pcsc_; }
  // Sales signed without a script.
  int Signed() const { return pcsc_.signedSales; }

  bool inProcess = true;
  std::string startError;

 private:
  class HeaderPcsc final : public FakePcsc {
   public:
    PcscCode Transmit(PcscHandle card, std::uint32_t protocol, ByteSpan command,
                      std::size_t maxResponse, Bytes& response) override {
      const bool sale = command.size() > 4 && command[0] == 0x80 && command[1] == 0x40;
      const bool report = command.size() > 4 && command[0] == 0x80 && command[1] == 0x42;
      if (sale && ScriptDone(0)) Script(0, {SaleStep(static_cast<std::uint32_t>(++signedSales))});
      return FakePcsc::Transmit(card, protocol, sale || report ? command.first(4) : command,
                                maxResponse, response);
    }
    std::atomic<int> signedSales = 0;
  };

  HeaderPcsc pcsc_;
  std::mutex mutex_;
  std::vector<std::string> notices_;
};

}  // namespace kasse::testing
