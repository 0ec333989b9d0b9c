#pragma once
// A card session over the scripted PC/SC service, with a hand-driven clock and a host that
// records what the windows were asked to do.

#include <string>
#include <vector>

#include "card/card_session.h"
#include "card/tests/fake_pcsc.h"

namespace kasse::testing {

inline constexpr const char* kSelectQor = "00 A4 04 00 08 D2 76 00 01 48 51 4F 52";
inline constexpr const char* kSelectCertificate = "00 A4 00 0C 02 11 10";

struct RecordingHost : CardSessionHost {
  void ShowCardError() override {
    calls.push_back("card error");
    errorVisible = true;
  }
  bool CardErrorVisible() const override { return errorVisible; }
  void RequestTransportPin() override { calls.push_back("transport pin"); }
  void ResetJournalState() override { calls.push_back("reset journal"); }
  void CardCheckPassed(const CardState& state) override {
    calls.push_back("passed " + state.TpId + " - " + state.TpIdNo);
  }
  std::vector<std::string> calls;
  bool errorVisible = false;
};

// One object: tag, length, value.
inline std::string Object(const std::string& tag, const Bytes& value) {
  std::string text = tag + " " + HexWritten(Bytes{static_cast<Byte>(value.size())});
  if (!value.empty()) text += " " + HexWritten(value);
  return text;
}

inline std::string StatusData(Byte lifecycle, const std::string& version, bool withD5 = false) {
  std::string text = Object("C0", {lifecycle});
  text += " " + Object("C1", ToBytes(version));
  text += " " + Object("C4", ToBytes("KASSE001"));
  text += " " + Object("C5", {0x00, 0x00, 0x01, 0x2C});
  text += " " + Object("C6", {0xAB, 0xCD});
  text += " " + Object("C7", {0x00, 0x01, 0x00});
  if (withD5) text += " " + Object("D5", {0x11, 0x22});
  text += " " + Object("C8", {0x20, 0x26, 0x12});
  text += " " + Object("C9", {0x05});
  text += " " + Object("CA", {0x00, 0x00, 0x00, 0x07});
  return text;
}

// The steps of a status read on a card of the given version level.
inline std::deque<ApduStep> StatusSteps(Byte lifecycle, int level) {
  std::deque<ApduStep> steps = {{"00 CA 01 F1 00",
                                 StatusData(lifecycle, level == 1 ? "T.1.1" : "T.2.0") + " 90 00",
                                 "// GET DATA card status."}};
  if (level > 1) {
    steps.push_back({"00 CA 01 F3 00", "C0 01 14 90 00", "// GET DATA hash length."});
    steps.push_back(
        {"00 CA 01 F4 00", "C1 01 01 C2 02 0A 0B C3 01 FF 90 00", "// GET DATA algorithms."});
  }
  return steps;
}

// A DER-like certificate of `total` bytes: 30 82 LL LL then filler.
inline Bytes Certificate(std::size_t total) {
  Bytes certificate(total, 0x5A);
  certificate[0] = 0x30;
  certificate[1] = 0x82;
  certificate[2] = static_cast<Byte>((total - 4) >> 8);
  certificate[3] = static_cast<Byte>(total - 4);
  return certificate;
}

inline std::deque<ApduStep> CertificateSteps(const Bytes& certificate) {
  std::deque<ApduStep> steps = {{kSelectCertificate, "90 00", "// SELECT certificate file."}};
  std::size_t offset = 0;
  char command[32];
  while (offset < certificate.size()) {
    const std::size_t rest = certificate.size() - offset;
    const std::size_t length = std::min<std::size_t>(rest, 256);
    std::snprintf(command, sizeof command, "00 B0 %02X %02X %02X",
                  static_cast<unsigned>(offset >> 8), static_cast<unsigned>(offset & 0xFF),
                  static_cast<unsigned>(rest < 256 && offset > 0 ? rest : 0));
    const auto first = certificate.begin() + static_cast<std::ptrdiff_t>(offset);
    steps.push_back(
        {command, HexWritten(Bytes(first, first + static_cast<std::ptrdiff_t>(length))) + " 90 00",
         "// READ BINARY."});
    offset += length;
  }
  return steps;
}

struct SessionFixture {
  SessionFixture() {
    monitor.ShowMonitor(1, 0);
    session.SetNotifyTarget(&host);
  }
  void Advance(std::chrono::milliseconds step) {
    now += step;
    session.RunDueTimers();
  }
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    for (const auto& line : monitor.Lines())
      if (line.text.rfind("Card,APDU;", 0) != 0 && line.text.rfind("Result;", 0) != 0)
        lines.push_back(line.text);
    return lines;
  }
  // Reader "R1" whose card answers the scan's SELECT of the QOR.
  void AddQorReader() {
    pcsc.AddReader("R1", {{kSelectQor, "90 00", "// SELECT QOR application."}});
  }
  // The QOR alone in reader "R1", selected and connected.
  void StartWithQor() {
    AddQorReader();
    ASSERT_TRUE(session.StartCard());
  }

  FakePcsc pcsc;
  TPCSCConnector connector{pcsc};
  CardMonitorLog monitor;
  CardExchange exchange{connector, monitor};
  CardSession::Clock::time_point now{};
  CardSession session{exchange, [this] { return now; }};
  RecordingHost host;
};

}  // namespace kasse::testing
