#pragma once
// The card session: finds the QOR among the readers, selects its application, reads its status
// and certificate, hashes on the card, and runs the start-up check with its two timers (the
// insertion debounce and the card-error watchdog). Timers are deadlines that the owner's loop
// drives through RunDueTimers; the clock is injectable for tests.
// Thread use: the owner's thread only, like the connector whose events it handles.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card/card_exchange.h"
#include "card/card_status.h"
#include "common/sha.h"

namespace kasse {

// What the windows do for the session: the main window and its modal windows.
class CardSessionHost {
 public:
  virtual ~CardSessionHost() = default;
  // The card error window, modal; closing it ends the application.
  virtual void ShowCardError() = 0;
  virtual bool CardErrorVisible() const = 0;
  // The transport-PIN window, modal, for a personalised card; it runs the activation itself.
  virtual void RequestTransportPin() = 0;
  // The journal forgets its pending buffers and file names.
  virtual void ResetJournalState() = 0;
  // The check passed: the splash ends, the function monitor shows when asked, the card's
  // identity is shown and the main window refreshed.
  virtual void CardCheckPassed(const CardState& state) = 0;
};

class CardSession {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kDebounce{500};
  static constexpr std::chrono::milliseconds kWatchdog{10000};
  static constexpr std::size_t kCertificateBuffer = 2051;
  static constexpr std::size_t kHashBlock = 128;

  explicit CardSession(
      CardExchange& exchange, std::function<Clock::time_point()> now = [] { return Clock::now(); });
  ~CardSession();
  CardSession(const CardSession&) = delete;
  CardSession& operator=(const CardSession&) = delete;

  // "fr" French, "uk" English, anything else German lifecycle words.
  void SetLanguageCode(std::string code) { languageCode_ = std::move(code); }
  void SetNotifyTarget(CardSessionHost* host) { host_ = host; }
  // Run between chained hash blocks; by default the connector's pending events.
  void SetProcessMessages(std::function<void()> process) { processMessages_ = std::move(process); }

  // The QOR found, selected, watched and connected; else kBusy while another card operation
  // runs, or kCard: no reader (saying why, when PC/SC told) or no QOR in any reader.
  Result<void> StartCard();
  bool SelectApplication();
  bool ReadCardStatus();
  // kBusy while another card operation runs; kTooLong for a certificate over `capacity`.
  Result<Bytes> ReadCertificate(std::size_t capacity = kCertificateBuffer);
  bool LoadCertificate();
  // The item-list hash on the card; kBusy while another card operation runs, kMalformed when
  // the card answers no SHA-1 length.
  Result<Sha1Digest> HashOnCard(ByteSpan data);
  // The start-up check's version step, kept as a step of its own; every QOR passes it.
  bool CheckQORversion() const { return true; }
  bool CardBusy() const { return cardBusy_; }

  // The card monitor's handlers: insertion (fromReader false: only the debounce starts),
  // removal, and the end of the debounce.
  void pcsc2CardInserted(bool fromReader);
  void pcsc2CardRemoved();
  void prellTimerTimer();
  // A command went unanswered: the card error follows as for a removed card.
  void CardStoppedAnswering();

  // The main window's side: its start-up step, its two card messages and the watchdog.
  void Startup();
  void CardPresentMessage();
  void CardRemovedMessage();
  void TimerCardErrTimer(bool fromTimer);
  bool CardReady() const { return cardReady_; }
  // What happened to the card or its reader, when PC/SC told: for the card error window.
  std::optional<Error> FailureCause() const;

  bool DebounceRunning() const { return debounceDeadline_.has_value(); }
  bool WatchdogRunning() const { return watchdogDeadline_.has_value(); }
  std::optional<Clock::time_point> NextDeadline() const;
  // Fires the timers whose deadline has passed.
  void RunDueTimers();

  const CardState& State() const { return state_; }
  // The status menu entry: reads the status again (its outcome does not matter) and gives the
  // sheet's values in order: lifecycle, version, tpId, tpIdNo, status items 5 to 9, and hash
  // length and algorithms on a card above version level 1.
  std::vector<std::string> QORStateClick();
  // For the journal's parameter block; reads the certificate when it is still missing.
  JournalCardParameters JournalParameters();

 private:
  void Log(std::string_view text, MonitorColour colour) { exchange_.MonitorLabel(text, colour); }
  Result<void> ScanReaders();
  // The answer's data when the card accepted the command (status word 90 00).
  Result<Bytes> SendAccepted(ByteSpan command);
  void ReadHashParameters();

  CardExchange& exchange_;
  TPCSCConnector& connector_;
  std::function<Clock::time_point()> now_;
  std::function<void()> processMessages_;
  CardSessionHost* host_ = nullptr;
  std::string languageCode_;
  CardState state_;
  bool cardBusy_ = false;
  bool cardReady_ = false;
  std::optional<Clock::time_point> debounceDeadline_;
  std::optional<Clock::time_point> watchdogDeadline_;
};

}  // namespace kasse
