#pragma once
// What the protocol needs of the card access below it and of the debug console above it, as
// interfaces, so that the signing exchange and the reports run the same under the register
// window, the batch front-end and the tests.

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "common/bytes.h"
#include "common/card_commands.h"
#include "common/result.h"

namespace kasse {

// The answer of an unanswered command, should it still come; nothing when the late
// transmission failed.
using LateAnswer = std::function<void(const std::optional<CardAnswer>& answer)>;

// The logged card exchange: commands and answers as bytes (CardAnswer: common/card_commands.h).
class CardLink {
 public:
  virtual ~CardLink() = default;
  // The card's answer with its status word, or an error when none came (kBusy: not within
  // the patience limit; the card is still working on the command).
  virtual Result<CardAnswer> Send(ByteSpan command) = 0;
  // Send for a command whose answer must not be lost: when the card does not answer in time
  // (kBusy), `late` gets the answer if it still comes.
  virtual Result<CardAnswer> SendKeepingLateAnswer(ByteSpan command, LateAnswer late) {
    (void)late;
    return Send(command);
  }
  // A coloured heading in the card monitor (0x00BBGGRR).
  virtual void MonitorLabel(std::string_view text, std::uint32_t colour) = 0;
};

inline constexpr std::uint32_t kLabelBlue = 0x00FF0000;

// The switches of the debug console and its hold: a held command comes back as the user left
// it ("Send") or unchanged (console closed). The hold shows the command as text and reads the
// user's text back; the protocol sees bytes only.
struct DebugSwitches {
  bool checkHash = false;    // "Hashen auf QOR"
  bool checkVer = false;     // "Verifikation auf QOR"
  bool checkManVer = false;  // "Datensatzmanipulation"
  bool checkTrans = false;   // "Transaktionsmanipulation"
};

class DebugHold {
 public:
  virtual ~DebugHold() = default;
  virtual Bytes HoldForDebug(Bytes command) = 0;
  // After a held VERIFY SIGNATURE the console is hidden again.
  virtual void HideConsole() {}
};

}  // namespace kasse
