#pragma once
// The register controller: owns the sale and everything a sale, a report or a card operation
// needs, and offers every operator action as one operation, so that the window, the batch
// front-end and the tests drive the same register. Front-ends see operations and read-only
// views; what the card, the record and the reports call back goes to private adapters, and
// what the register asks of a front-end goes through one RegisterHost. Card errors do not end
// anything here: they raise a flag (Card().Failed()) and tell the host.
// Single-threaded: the owner's thread only (the connector's watcher only posts events).

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/app_clock.h"
#include "common/result.h"
#include "journal/journal.h"
#include "journal/product_list.h"
#include "monitor/function_monitor.h"
#include "protocol/item_list.h"
#include "protocol/qr_payload.h"
#include "protocol/reports.h"
#include "protocol/sign_transaction.h"
#include "protocol/transaction_record.h"
#include "protocol/vat_container.h"
#include "register/card_stack.h"
#include "register/language.h"
#include "register/register_config.h"
#include "register/register_host.h"
#include "register/sale.h"
#include "register/sequence_ledger.h"
#include "register/special_position.h"

namespace kasse {

// The export pair's two ways in: a new pair (refused when either of its files exists), or a pair
// to add to (the files that are missing are made).
enum class ExportKind { kNew, kOpen };

struct RegisterOptions {
  std::filesystem::path home;
  unsigned seed = 1;  // of the mass generator
  AppClock::NowSource now = SystemNow;
  // The journal's file calls; tests make single writes and syncs fail through it.
  FileIo* journalIo = nullptr;
  // Where records that could not be written when a run ended are rescued, and where the
  // journal text that waits for an export pair goes past its threshold; empty: the user's state
  // folder.
  std::filesystem::path stateFolder;
  // The language of a home whose cfg/start.ini names none, a new home: the front-ends take it
  // from the locale (RegisterConfig::LanguageOfLocale); empty: Deutsch.
  std::string newHomeLanguage;
  // The window: Start scans for the card and leaves the start-up check to the end of the
  // insertion debounce (ProcessCardEvents), as a card put into a reader would have it. Batch
  // and tests: Start runs the check at once.
  bool checkAfterDebounce = false;
};

class Register final {
 public:
  // `card`: the card backend the front-end chose (not null); the register owns it from now on.
  Register(RegisterOptions options, std::unique_ptr<CardBackend> card);
  ~Register();
  Register(const Register&) = delete;
  Register& operator=(const Register&) = delete;

  // Configuration, language, products and the card check. Configuration and product problems
  // are only reported (Warnings()); an error means the card failed. The journal pair opens at
  // the first journal write, so a run that only reads the card leaves no files. With
  // checkAfterDebounce the check may still be to come (Card().Checked() false) after success.
  Result<void> Start();
  // Which monitor windows open at the next start.
  struct MonitorsAtStart {
    bool cardMonitor = false;
    bool functionMonitor = false;
  };
  // Writes the settings to cfg/start.ini (the setters below change only the memory): at the
  // orderly close of the main window, with the monitors it leaves open, and at the end of a
  // batch run, which keeps them as they were.
  Result<void> SaveSettings(std::optional<MonitorsAtStart> monitors = std::nullopt);
  const std::vector<Error>& Warnings() const { return warnings_; }
  // The front-end's side (nullptr: none); it must outlive the register or withdraw first.
  void SetHost(RegisterHost* host);
  // Runs the connector's pending events and due card timers once.
  void ProcessCardEvents();

  // Sale.
  Result<void> SelectOperator(int number);
  Result<void> SetOperatorName(int number, std::string name);
  Result<void> BookProduct(std::size_t index, std::string_view quantityText);
  Result<void> BookSpecial(const SpecialPositionFields& fields);
  // Without a line, the last receipt line.
  Result<void> Storno(std::optional<std::size_t> line);
  // "Rabatt" or "Aufschlag" on the last position.
  Result<void> Percentage(PercentSign sign, std::string_view percent);
  // A second Summe cashes in, as the button does.
  Result<void> Summe();
  Result<void> Kassieren();
  void Abbruch();
  // The report view takes the receipt: an open sale is dropped and the receipt emptied.
  void LeaveSale();

  // Switches.
  enum class Switch {
    kTraining,
    kExclusiveTax,  // refused during a sale
    // One of the security text and the QR code stays on: switching one off switches the other
    // on.
    kSecurityText,
    kQrCode,
    // The debug console's four.
    kHashOnCard,
    kVerifyOnCard,
    kManipulateRecord,
    kManipulateTransaction,
  };
  Result<void> SetSwitch(Switch which, bool on);
  const DebugSwitches& Switches() const { return signing_.Switches(); }
  Result<void> SetRates(const std::array<std::string, 6>& rates);
  // A language without texts in cfg/lang.ini is taken all the same, with empty texts and a
  // warning in Warnings().
  Result<void> SetLanguage(std::string_view name);
  // The application clock: its mode, the operator's value (mode stellen), the once-a-second
  // tick.
  void SetClockMode(ClockMode mode);
  void SetClockPickers(AppDateTime value);
  void TickClock() { clock_.TimerSyncTimer(); }
  // The card monitor's window: shown (the log runs), hidden, or closed (the log stops).
  enum class CardMonitorState { kShown, kHidden, kClosed };
  void SetCardMonitor(CardMonitorState state);
  enum class Log { kFunctionMonitor, kCardMonitor };
  void ClearLog(Log log);

  // A signed sale or report whose journal records could not be written keeps its receipt back
  // (a notice line instead of the security text, the card's answer lines and the QR code) and
  // refuses every further sale and report until they are written. This writes them if it now
  // can, releasing the receipt; the error says why not. Every operation of the sale and the
  // reports tries it first; front-ends call it before anything that shows the receipt.
  Result<void> RetryJournal();
  // Why the receipt may not be printed, saved or scanned now (held back), if it may not.
  Result<void> ReceiptMayLeave() const;
  // The end of a run, before the register goes: records still held are written if they can
  // be, else rescued into a file in the user's state folder (written into a new journal pair
  // at the next start), else given back as text for the operator to keep.
  struct RunEnd {
    enum class Kind { kWritten, kRescued, kLost };
    Kind kind = Kind::kWritten;
    std::filesystem::path rescueFile;  // kRescued
    std::string recordsText;           // kLost: each record's request and answer in Base64
    // kRescued, kLost: what the operator is told; kWritten: none, or why the export pair did
    // not get its last records.
    std::optional<Error> message;
  };
  RunEnd EndRun();

  // Reports and card.
  Result<void> DailyClosing(ClosingKind kind);
  // Months as three packed bytes each (PackedReportMonth), as the card takes them.
  Result<void> SpanReport(ByteSpan firstMonth, ByteSpan lastMonth);
  Result<BookedMonths> ReportMonths();
  Result<void> Activate(const std::string& pin);
  Result<void> Deactivate();
  // The card's status values (the open sale is dropped); an error when the card gave none.
  // kSheet also writes the status sheet into the receipt, with the values last known when the
  // card gave none.
  enum class StatusOutput { kValues, kSheet };
  Result<std::vector<std::string>> Status(StatusOutput output = StatusOutput::kValues);

  // Files and printing.
  Result<void> SaveReceipt(const std::filesystem::path& file) const;
  // The receipt as a raw job for the receipt printer: into `file` when one is named, else onto
  // the configured raw queue. Once the job is out, the receipt itself loses its empty last
  // lines (the room kept for the QR picture), as the printed one has none.
  Result<void> PrintRaw(const std::filesystem::path& file = {});
  Result<void> LoadProducts(const std::filesystem::path& file);
  // Attaches the export pair named after `file` (its S and L files beside it): it gets every
  // record journalled since the card started, at once when new, else at the next flush, and
  // the rest as the run goes on and at its end (EndRun).
  Result<void> Export(ExportKind kind, const std::filesystem::path& file);
  // The product list's menu edits the list in place (add, remove, save as).
  ProductList& EditProducts() { return products_; }

  // The mass generator; the stop flag ends the run after the position in progress, whose sale
  // is still cashed in. Progress gets the completed and the total number of sales and, of the
  // completed, those the card refused: a refused sale is counted and the run goes on; a card
  // error ends it. An empty product list gives empty sales, cashed in all the same.
  struct MassOptions {
    int transactions = 1000;
    int maxPositions = 100;
    int stornoChance = 300;
    int maxQuantity = 5;
    bool switchOperator = true;
    // Runs before each sale and after each position: a window lets its pending events run and
    // reads the fields again (all but the number of sales); an error ends the run.
    std::function<Result<void>(MassOptions&)> poll;
  };
  Result<int> MassTransactions(MassOptions options, const std::atomic<bool>* stop,
                               const std::function<void(int, int, int)>& progress);

  // What the front-ends read of the card.
  class CardView {
   public:
    explicit CardView(const Register& reg) : reg_(reg) {}
    const CardState& State() const { return reg_.card_.Session().State(); }
    // The start-up check has passed; before that no report (the activation too) can run.
    bool Checked() const { return reg_.cardChecked_; }
    // Set when the card failed or went; Failure() is the reason for the operator.
    bool Failed() const { return reg_.cardFailed_; }
    const std::optional<Error>& Failure() const { return reg_.cardFailure_; }
    bool TransportPinRequested() const { return reg_.pinRequested_; }
    const CardMonitorLog& Log() const { return reg_.card_.Log(); }
    // The simulated card inside this process, not one behind pcsc-lite.
    bool InRegister() const { return reg_.card_.InProcess(); }
    // The reader the card was found in at the last passed check; empty before.
    const std::string& Reader() const { return reg_.cardReader_; }

   private:
    const Register& reg_;
  };

  // Views.
  CardView Card() const { return CardView(*this); }
  const Sale& CurrentSale() const { return sale_; }
  const RegisterConfig& Config() const { return config_; }
  const ProductList& Products() const { return products_; }
  const Language& Texts() const { return language_; }
  const std::string& LastVerifyUrl() const { return qr_.LastVerifyUrl(); }
  const FunctionMonitor& Monitor() const { return monitor_; }
  const AppClock& Clock() const { return clock_; }

 private:
  friend struct RegisterProbe;
  class Adapters;
  // Tells the host once the outermost operation in progress has ended.
  class ChangeNotice {
   public:
    explicit ChangeNotice(Register& reg) : reg_(reg) { ++reg_.operationDepth_; }
    ~ChangeNotice() {
      if (--reg_.operationDepth_ == 0) reg_.NotifyChanged();
    }
    ChangeNotice(const ChangeNotice&) = delete;
    ChangeNotice& operator=(const ChangeNotice&) = delete;

   private:
    Register& reg_;
  };

  enum class HeldKind { kSale, kReport };
  struct HeldReceipt {
    CardOutcome outcome;
    HeldKind kind;
  };

  Result<void> CardReady() const;
  Result<void> BeforeReport();
  // Refuses while the journal holds a record in memory only, after one more try to write it.
  Result<void> JournalCaughtUp();
  void AppendSaleParts(const ReceiptParts& parts);
  void ShowVerifyUrl(const ReceiptParts& parts);
  void FinishReportReceipt(const ReceiptParts& parts);
  Result<void> ApplyReport(CardOutcome outcome);
  void HoldReceipt(CardOutcome outcome, HeldKind kind);
  void ReleaseHeldReceipt();
  Result<void> WriteRescuedRecords();
  std::filesystem::path StateFolder() const;
  FileIo& JournalIo() const;
  // Ends the card's use with `reason`, as a failed card check does.
  void FailCard(const Error& reason);
  // Why the card cannot be used, as a card error.
  Error CardFailure() const;
  void ShowCardError();
  void TakeCardNotices();
  void CardCheckPassed(const CardState& state);
  void RequestTransportPin();
  void NotifyChanged();

  RegisterOptions options_;
  RegisterConfig config_;
  Language language_;
  ProductList products_;
  Journal journal_;
  AppClock clock_;
  FunctionMonitor monitor_;
  ItemList itemList_;
  VatContainers containers_;
  Sale sale_;
  std::unique_ptr<Adapters> adapters_;
  TransactionRecord record_;
  QrPayload qr_;
  CardStack card_;
  SequenceLedger ledger_;
  TransactionSigning signing_;
  Reports reports_;
  std::vector<Error> warnings_;
  std::optional<HeldReceipt> held_;
  bool runEnded_ = false;
  bool cardFailed_ = false;
  bool cardChecked_ = false;
  bool pinRequested_ = false;
  bool cardEvent_ = false;
  int operationDepth_ = 0;
  std::optional<Error> cardFailure_;
  std::string cardReader_;
  RegisterHost* host_ = nullptr;
  std::mt19937 random_;
};

// A month as the span report takes it: 20 09 01 is January 2009; nothing for a month outside
// 1 to 12 or a year outside 1000 to 9999.
std::optional<Bytes> PackedReportMonth(int month, int year);

}  // namespace kasse
