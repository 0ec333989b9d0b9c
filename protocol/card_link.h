#pragma once
// What the protocol needs of the card access below it and of the windows above it, as
// interfaces, so that the signing exchange and the reports run the same under the register
// window, the batch front-end and the tests.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace kasse {

// kUnanswered: the card gave no answer within the patience limit; the command may still be
// answered later.
enum class CardReply { kAnswered, kFailed, kUnanswered };

// The answer of an unanswered command, should it still come: data and status word in written
// hexadecimal form, status word last; empty when the late transmission failed.
using LateAnswer = std::function<void(const std::string& answer)>;

// The logged card exchange: true exactly when the answer ended in 90 00, with the data before
// the status word in written hexadecimal form.
class CardLink {
 public:
  virtual ~CardLink() = default;
  virtual bool SendHex(std::string_view command, std::string& data) = 0;
  // The status word of the last answer as four upper-case hex digits ("6985"); empty when no
  // answer came at all.
  virtual std::string LastStatusWord() const { return {}; }
  // SendHex for a command whose answer must not be lost: kAnswered as SendHex's true; when
  // the card does not answer in time, `late` gets the answer if it still comes.
  virtual CardReply SendKeepingLateAnswer(std::string_view command, std::string& data,
                                          LateAnswer late) {
    (void)late;
    return SendHex(command, data) ? CardReply::kAnswered : CardReply::kFailed;
  }
  // A coloured heading in the card monitor (0x00BBGGRR).
  virtual void MonitorLabel(std::string_view text, std::uint32_t colour) = 0;
};

inline constexpr std::uint32_t kLabelBlue = 0x00FF0000;

// The switches of the debug console and its hold: a held command comes back as the user left
// it ("Send") or unchanged (console closed).
struct DebugSwitches {
  bool checkHash = false;    // "Hashen auf QOR"
  bool checkVer = false;     // "Verifikation auf QOR"
  bool checkManVer = false;  // "Datensatzmanipulation"
  bool checkTrans = false;   // "Transaktionsmanipulation"
};

class DebugHold {
 public:
  virtual ~DebugHold() = default;
  virtual std::string HoldForDebug(std::string text) = 0;
  // After a held VERIFY SIGNATURE the console is hidden again.
  virtual void HideConsole() {}
};

// The receipt side of an exchange: its colour, the signature text and the QR payload.
class ReceiptSink {
 public:
  virtual ~ReceiptSink() = default;
  virtual void SetReceiptColour(std::uint32_t colour) = 0;
  virtual void AppendSignatureText(ByteSpan signature, bool force) = 0;
  virtual void QRAppend(ByteSpan bytes) = 0;
  virtual void QRReset() = 0;
};

inline constexpr std::uint32_t kReceiptFailed = 0x3366FF;    // orange-red
inline constexpr std::uint32_t kReceiptVerified = 0xD7F1E7;  // pale green

}  // namespace kasse
