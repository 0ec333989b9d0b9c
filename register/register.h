#pragma once
// The register controller: owns the sale and everything a sale, a report or a card operation
// needs, and offers every operator action as one operation, so that the window, the batch
// front-end and the tests drive the same register. Card errors do not end anything here: they
// raise a flag (and an optional callback) that the front-end reads.
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
#include "receipt/app_clock.h"
#include "register/card_stack.h"
#include "register/language.h"
#include "register/register_config.h"
#include "register/sale.h"
#include "register/special_position.h"

namespace kasse {

struct RegisterOptions {
  std::filesystem::path home;
  CardOptions card;
  unsigned seed = 1;  // of the mass generator
  AppClock::NowSource now = SystemNow;
  // The journal's file calls; tests make single writes and syncs fail through it.
  FileIo* journalIo = nullptr;
};

class Register final : public CashInSteps,
                       public RecordHooks,
                       public ReportHost,
                       public CardSessionHost {
 public:
  explicit Register(RegisterOptions options);
  ~Register() override;
  Register(const Register&) = delete;
  Register& operator=(const Register&) = delete;

  // Configuration, language, products and the card check. Configuration and product problems
  // are only reported (Warnings()); an error means the card failed. The journal pair opens at
  // the first journal write, so a run that only reads the card leaves no files.
  Result<void> Start();
  // Writes the settings to cfg/start.ini (the setters below change only the memory): at the
  // orderly close of the main window and at the end of a batch run.
  Result<void> SaveSettings() const { return config_.SaveConfiguration(); }
  const std::vector<std::string>& Warnings() const { return warnings_; }

  // Sale.
  Result<void> SelectOperator(int number);
  Result<void> SetOperatorName(int number, std::string name);
  Result<void> BookProduct(std::size_t index, std::string_view quantityText);
  Result<void> BookSpecial(const SpecialPositionFields& fields);
  // Without a line, the last receipt line.
  Result<void> Storno(std::optional<std::size_t> line);
  // "Rabatt" or "Aufschlag" on the last position.
  Result<void> Percentage(PercentSign sign, std::string_view percent) {
    return sale_.ApplyPercentage(sign, percent);
  }
  // A second Summe cashes in, as the button does.
  Result<void> Summe() { return sale_.KassierenEnabled() ? Kassieren() : sale_.TotalSale(); }
  Result<void> Kassieren();
  void Abbruch() { sale_.AbortSale(); }

  // Switches.
  void SetTraining(bool on) { sale_.settings.trainingMode = on; }
  Result<void> SetExclusiveTax(bool on);
  // One of the security text and the QR code stays on: switching one off switches the other on.
  void SetSecurityText(bool on);
  void SetQrCode(bool on);
  void SetVerifyOnCard(bool on);
  void SetHashOnCard(bool on);
  Result<void> SetRates(const std::array<std::string, 6>& rates);
  // A language without texts in cfg/lang.ini is taken all the same, with empty texts and a
  // warning in Warnings().
  Result<void> SetLanguage(std::string_view name);
  void SetClock(const CivilDateTime& when);
  // Whether the two monitor windows open at the next start; saved by SaveSettings.
  Result<void> SaveMonitorSettings(bool cardMonitor, bool functionMonitor);
  void SetClockMode(ClockMode mode) { clock_.SetTime(mode); }

  // Reports and card.
  Result<void> DailyClosing(bool signedClosing);
  // Month and year of the first and last month.
  Result<void> SpanReport(int firstMonth, int firstYear, int lastMonth, int lastYear);
  Result<BookedMonths> ReportMonths();
  Result<void> Activate(const std::string& pin);
  Result<void> Deactivate();
  std::vector<std::string> Status();

  // Files.
  Result<void> SaveReceipt(const std::filesystem::path& file) const;
  Result<void> LoadProducts(const std::filesystem::path& file) { return products_.Load(file); }
  Result<void> SaveProducts(const std::filesystem::path& file) { return products_.SaveAs(file); }
  void AddProduct(TProd product) { products_.Add(std::move(product)); }
  // "Löschen" in the product list's menu: false when index names no entry.
  bool RemoveProduct(std::size_t index) { return products_.Remove(index); }

  // The mass generator; the stop flag ends the run after the position in progress, whose sale
  // is still cashed in. Progress gets the completed and the total number of sales. A sale the
  // card refuses is counted (MassRefusals()) and the run goes on; a card error ends it. An
  // empty product list gives empty sales, cashed in all the same.
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
                               const std::function<void(int, int)>& progress);
  // Sales of the last mass run that the card refused.
  int MassRefusals() const { return massRefusals_; }
  // The window seeds the generator from the clock; batch keeps the seed of its options.
  void SeedMassGenerator(unsigned seed) { random_.seed(seed); }

  // Card error: set when the card failed or went; the reason for the front-end.
  bool CardFailed() const { return cardFailed_; }
  const std::string& CardFailure() const { return cardFailure_; }
  void SetCardErrorCallback(std::function<void()> callback) { onCardError_ = std::move(callback); }
  bool TransportPinRequested() const { return pinRequested_; }
  // The start-up check has passed; before that no report (the activation too) can run.
  bool CardChecked() const { return cardChecked_; }

  // What a window front-end answers: the questions of the reports, their messages and the
  // transport-PIN step. Without them every question is answered OK, messages are kept in
  // Messages() and the PIN request only raises TransportPinRequested().
  struct Prompts {
    std::function<bool(const std::string& text, const std::string& caption)> confirm;
    std::function<void(const std::string& text, const std::string& caption)> message;
    std::function<void()> transportPin;
  };
  void SetPrompts(Prompts prompts) { prompts_ = std::move(prompts); }
  // The debug console: its switches, and the hold it offers (nullptr: commands pass through).
  void SetDebugSwitches(const DebugSwitches& switches) { signing_.SetSwitches(switches); }
  const DebugSwitches& Switches() const { return signing_.Switches(); }
  void SetDebugHold(DebugHold* hold) { signing_.SetHold(hold); }

  // Views.
  const Sale& CurrentSale() const { return sale_; }
  const RegisterConfig& Config() const { return config_; }
  const ProductList& Products() const { return products_; }
  const Journal& JournalFiles() const { return journal_; }
  const std::string& LastVerifyUrl() const { return qr_.LastVerifyUrl(); }
  const TransactionSigning& Signing() const { return signing_; }
  const Reports& ReportRunner() const { return reports_; }
  const std::vector<std::string>& Messages() const { return messages_; }
  const std::filesystem::path& Home() const { return options_.home; }
  // The report view or the card status sheet takes the receipt: an open sale is dropped.
  void LeaveSale() { sale_.LeaveSale(); }
  CardStack& Card() { return card_; }
  const Language& Texts() const { return language_; }
  FunctionMonitor& Monitor() { return monitor_; }
  AppClock& Clock() { return clock_; }
  // Runs the connector's pending events and due card timers once.
  void ProcessCardEvents();
  // Run every few milliseconds while a card command waits for its answer (a window keeps its
  // event loop going through it); without one the register just waits, at most the patience.
  void SetCardWaitPump(std::function<void()> pump) {
    card_.Exchange().SetWaitPump(std::move(pump));
  }

  // CashInSteps.
  std::string BuildTransaction(RecordFlags flags) override;
  Result<std::string> TryBuildTransaction(RecordFlags flags) override;
  void BuildVerifyUrl() override;
  bool HasVerifyUrl() const override { return !qr_.LastVerifyUrl().empty(); }
  void RenderQR() override {}
  // RecordHooks and ReceiptSink.
  void QRReset() override { qr_.QRReset(); }
  void AppendHashText(ByteSpan hash) override { sale_.AppendHashText(hash, false); }
  void SetReceiptColour(std::uint32_t colour) override { sale_.SetReceiptColour(colour); }
  void AppendSignatureText(ByteSpan signature, bool force) override {
    sale_.AppendSignatureText(signature, force);
  }
  void QRAppend(ByteSpan bytes) override { qr_.QRAppend(bytes); }
  // ReportHost: the batch has no one to ask, so every question is answered OK.
  void ResetReceipt() override { sale_.ResetReceipt(); }
  void AppendReceiptText(const std::string& text) override { sale_.AppendText(text); }
  void ShowMessage(const std::string& text, const std::string& caption) override;
  bool Confirm(const std::string& text, const std::string& caption) override;
  // CardSessionHost.
  void ShowCardError() override;
  bool CardErrorVisible() const override { return cardFailed_; }
  void RequestTransportPin() override;
  void ResetJournalState() override { journal_.ResetExportBuffers(); }
  void CardCheckPassed(const CardState& state) override;

 private:
  Result<void> CardReady() const;
  Result<void> BeforeReport();
  // Refuses while the journal holds a record in memory only, after one more try to write it.
  Result<void> JournalCaughtUp();

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
  TransactionRecord record_;
  QrPayload qr_;
  CardStack card_;
  TransactionSigning signing_;
  Reports reports_;
  std::vector<std::string> warnings_;
  std::vector<std::string> messages_;
  std::optional<Error> signingError_;
  bool cardFailed_ = false;
  bool cardChecked_ = false;
  bool pinRequested_ = false;
  std::string cardFailure_;
  std::function<void()> onCardError_;
  Prompts prompts_;
  std::mt19937 random_;
  int massRefusals_ = 0;
};

}  // namespace kasse
