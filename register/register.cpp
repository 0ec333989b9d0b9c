#include "register/register.h"

#include "common/cp1252.h"
#include "common/files.h"
#include "receipt/cups_printer.h"
#include "receipt/raw_print_job.h"
#include "receipt/receipt_file.h"
#include "register/messages.h"

namespace kasse {

// What the sale, the record, the reports, the card session and the signing exchange call back,
// kept off the register's public face.
class Register::Adapters final : public CashInSteps,
                                 public RecordHooks,
                                 public ReportHost,
                                 public CardSessionHost,
                                 public DebugHold {
 public:
  explicit Adapters(Register& reg) : reg_(reg) {}

  // CashInSteps.
  Result<std::string> BuildTransaction(RecordFlags flags) override {
    return reg_.BuildTransaction(flags);
  }
  void BuildVerifyUrl() override { reg_.qr_.BuildVerifyUrl(reg_.config_.verifyHost); }
  bool HasVerifyUrl() const override { return !reg_.qr_.LastVerifyUrl().empty(); }
  void RenderQR() override {}

  // RecordHooks and ReceiptSink.
  void QRReset() override { reg_.qr_.QRReset(); }
  void AppendHashText(ByteSpan hash) override { reg_.sale_.AppendHashText(hash, false); }
  void SetReceiptColour(std::uint32_t colour) override { reg_.sale_.SetReceiptColour(colour); }
  void AppendSignatureText(ByteSpan signature, bool force) override {
    reg_.sale_.AppendSignatureText(signature, force);
  }
  void QRAppend(ByteSpan bytes) override { reg_.qr_.QRAppend(bytes); }

  // ReportHost: without a host every question is answered OK.
  void ResetReceipt() override { reg_.sale_.ResetReceipt(); }
  void AppendReceiptText(const std::string& text) override { reg_.sale_.AppendText(text); }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    if (reg_.host_ != nullptr) reg_.host_->ShowMessage(text, caption);
  }
  bool Confirm(const std::string& text, const std::string& caption) override {
    return reg_.host_ == nullptr || reg_.host_->Confirm(text, caption);
  }

  // CardSessionHost.
  void ShowCardError() override { reg_.ShowCardError(); }
  bool CardErrorVisible() const override { return reg_.cardFailed_; }
  void RequestTransportPin() override { reg_.RequestTransportPin(); }
  void ResetJournalState() override { reg_.journal_.ResetExportBuffers(); }
  void CardCheckPassed(const CardState& state) override { reg_.CardCheckPassed(state); }

  // DebugHold: the host's console, asked anew each time.
  std::string HoldForDebug(std::string text) override {
    DebugHold* hold = reg_.host_ != nullptr ? reg_.host_->CommandHold() : nullptr;
    return hold != nullptr ? hold->HoldForDebug(std::move(text)) : text;
  }
  void HideConsole() override {
    if (DebugHold* hold = reg_.host_ != nullptr ? reg_.host_->CommandHold() : nullptr)
      hold->HideConsole();
  }

 private:
  Register& reg_;
};

Register::Register(RegisterOptions options)
    : options_(std::move(options)),
      config_(options_.home),
      language_(options_.home),
      journal_(options_.home, SystemDateYymmdd,
               options_.journalIo != nullptr ? *options_.journalIo : PosixFileIo()),
      clock_(options_.now),
      itemList_(monitor_, language_.Texts()),
      sale_(config_, language_.Texts(), itemList_, containers_),
      adapters_(std::make_unique<Adapters>(*this)),
      record_(monitor_, language_.Texts(), journal_, clock_, adapters_.get()),
      qr_(&monitor_),
      card_(options_.home, options_.card),
      signing_(card_.Link(), *adapters_, adapters_.get()),
      reports_(record_, card_.Link(), *adapters_),
      random_(options_.seed) {
  sale_.SetCashInSteps(adapters_.get());
  journal_.SetParamsSource([this] {
    const JournalCardParameters p = card_.Session().JournalParameters();
    return QorParams{p.qorVersion, p.tpId, p.tpIdNo, p.certificate};
  });
  TPCSCConnector& connector = card_.Connector();
  CardSession& session = card_.Session();
  connector.OnCardInserted = [this, &session] {
    cardEvent_ = true;
    session.pcsc2CardInserted(true);
  };
  connector.OnCardRemoved = [this, &session] {
    cardEvent_ = true;
    session.pcsc2CardRemoved();
  };
  session.SetNotifyTarget(adapters_.get());
}

Register::~Register() {
  card_.Session().SetNotifyTarget(nullptr);
  // A card command that outlasted its patience may still bring a signature: it is journalled
  // while the journals are open.
  (void)card_.FinishLateAnswer(CardStack::kLateAnswerWait);
}

void Register::SetHost(RegisterHost* host) {
  host_ = host;
  // A window keeps its event loop going while the card works; without one the register just
  // waits, at most the patience.
  if (host_ != nullptr)
    card_.Exchange().SetWaitPump([this] {
      if (host_ != nullptr) host_->WhileCardWorks();
    });
  else
    card_.Exchange().SetWaitPump({});
}

void Register::NotifyChanged() {
  if (host_ != nullptr) host_->Changed();
}

Result<void> Register::Start() {
  const ChangeNotice notice(*this);
  warnings_ = config_.LoadConfiguration();
  card_.Exchange().SetPatience(config_.cardPatience);
  if (!language_.ApplyLanguage(config_.language))
    warnings_.push_back(!language_.FileProblem().empty()
                            ? language_.FileProblem()
                            : EnglishMessage(Message::kLanguageMissingWarning, {config_.language}));
  if (language_.FileWasUtf8()) warnings_.push_back(Utf8FileNotice("cfg/lang.ini"));
  if (auto loaded = products_.Load(DefaultProductFile(options_.home)); !loaded)
    warnings_.push_back(loaded.error().message);
  else if (!products_.LoadNotice().empty())
    warnings_.push_back(products_.LoadNotice());
  // The card monitor keeps its log when its window is to be shown, as the window would.
  if (card_.SimReader() != nullptr || config_.showCardMonitor) card_.Log().ShowMonitor(1, 0);

  CardSession& session = card_.Session();
  session.SetLanguageCode(language_.LangText(1));
  session.Startup();
  // The card was found at once: what the end of the debounce does, without waiting for it.
  if (!cardFailed_ && !cardChecked_) session.CardPresentMessage();
  if (cardFailed_ || !cardChecked_) {
    ShowCardError();
    return MakeError(ErrorKind::kCard, cardFailure_);
  }
  sale_.settings.versionLevel = session.State().VersionLevel;
  sale_.ResetReceipt();
  return {};
}

void Register::ProcessCardEvents() {
  // Called every few milliseconds: the host hears only of events that happened.
  cardEvent_ = false;
  card_.Connector().ProcessPendingEvents();
  card_.Session().RunDueTimers();
  if (cardEvent_ && operationDepth_ == 0) NotifyChanged();
}

void Register::CardCheckPassed(const CardState& state) {
  cardEvent_ = true;
  cardChecked_ = true;
  sale_.settings.versionLevel = state.VersionLevel;
}

void Register::ShowCardError() {
  cardEvent_ = true;
  if (!cardFailed_) {
    cardFailed_ = true;
    const CardState& state = card_.Session().State();
    const std::string simError = card_.SimStartError();
    if (!simError.empty())
      cardFailure_ = EnglishMessage(Message::kSimCardCannotStart, {simError});
    else if (card_.Exchange().CardStoppedAnswering())
      cardFailure_ = EnglishMessage(Message::kCardStoppedAnswering,
                                    {std::to_string(config_.cardPatience.count())});
    else if (const std::optional<Error> cause = card_.Session().FailureCause())
      cardFailure_ = cause->message;  // what PC/SC said happened
    else
      cardFailure_ = EnglishMessage(state.TpId.empty() ? Message::kNoCard : Message::kCardFailed);
  }
  if (host_ != nullptr) host_->CardFailed();
}

void Register::RequestTransportPin() {
  cardEvent_ = true;
  pinRequested_ = true;
  if (host_ != nullptr) host_->RequestTransportPin();
}

Result<void> Register::CardReady() const {
  if (cardFailed_) return MakeError(ErrorKind::kCard, cardFailure_);
  if (!cardChecked_) return MessageError(ErrorKind::kCard, Message::kCardNotReady);
  return {};
}

Result<void> Register::SelectOperator(int number) {
  const ChangeNotice notice(*this);
  if (number != 1 && number != 2)
    return MessageError(ErrorKind::kUnusableInput, Message::kOperatorNumber);
  config_.activeOperator = number;
  return {};
}

Result<void> Register::SetOperatorName(int number, std::string name) {
  const ChangeNotice notice(*this);
  if (number != 1 && number != 2)
    return MessageError(ErrorKind::kUnusableInput, Message::kOperatorNumber);
  name = name.substr(0, RegisterConfig::kMaxOperatorName);
  (number == 1 ? config_.operatorName1 : config_.operatorName2) = std::move(name);
  return {};
}

Result<void> Register::BookProduct(std::size_t index, std::string_view quantityText) {
  const ChangeNotice notice(*this);
  const auto& list = products_.Products();
  if (index >= list.size())
    return MessageError(ErrorKind::kUnusableInput, Message::kNoProductAtIndex,
                        {std::to_string(index)});
  BookingPosition position = list[index];
  if (!quantityText.empty()) {
    Result<double> quantity = ParseQuantity(quantityText);
    if (!quantity) return quantity.error();
    position.qnt = *quantity;
  }
  return sale_.BookPosition(position);
}

Result<void> Register::BookSpecial(const SpecialPositionFields& fields) {
  const ChangeNotice notice(*this);
  Result<BookingPosition> position = MakeSpecialPosition(fields);
  if (!position) return position.error();
  return sale_.BookPosition(*position);
}

Result<void> Register::Storno(std::optional<std::size_t> line) {
  const ChangeNotice notice(*this);
  return sale_.CancelPosition(line.value_or(sale_.ReceiptLines().size()));
}

Result<void> Register::JournalCaughtUp() {
  if (!journal_.IsBehind()) return {};
  // A record the journal holds in memory only is written first; no new signature before.
  if (auto synced = journal_.Sync(); !synced)
    return MakeError(ErrorKind::kIo,
                     "The journal record of the last signed sale or report is still not written (" +
                         synced.error().message +
                         "). Nothing more is signed until it is: free space on the disk and try "
                         "again.");
  return {};
}

Result<void> Register::Percentage(PercentSign sign, std::string_view percent) {
  const ChangeNotice notice(*this);
  return sale_.ApplyPercentage(sign, percent);
}

Result<void> Register::Summe() {
  const ChangeNotice notice(*this);
  return sale_.KassierenEnabled() ? Kassieren() : sale_.TotalSale();
}

void Register::Abbruch() {
  const ChangeNotice notice(*this);
  sale_.AbortSale();
}

void Register::LeaveSale() {
  const ChangeNotice notice(*this);
  sale_.LeaveSale();
  sale_.ResetReceipt();
}

Result<void> Register::Kassieren() {
  const ChangeNotice notice(*this);
  if (auto ready = CardReady(); !ready) return ready;
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  signingError_.reset();
  if (auto cashed = sale_.CashIn(); !cashed) return cashed;
  if (cardFailed_) return MakeError(ErrorKind::kCard, cardFailure_);
  if (signingError_) return *signingError_;
  return {};
}

Result<std::string> Register::BuildTransaction(RecordFlags flags) {
  TransactionInput input;
  input.flags = flags;
  input.operatorName = config_.ActiveOperatorName();
  input.versionLevel = card_.Session().State().VersionLevel;
  const bool hashOnCard = signing_.Switches().checkHash;
  const std::uint64_t sentBefore = signing_.CommandsSent();
  Result<void> built = record_.BuildTransaction(input, itemList_, containers_,
                                                hashOnCard ? &card_.Hasher() : nullptr, &signing_);
  // Too large for the card: nothing was sent or journalled, the sale stays totalled.
  if (!built && built.error().kind == ErrorKind::kTooLong) return built.error();
  // The journal failed before the card was asked: nothing signed, the sale stays totalled.
  if (!built && built.error().kind == ErrorKind::kIo && signing_.CommandsSent() == sentBefore)
    return built.error();
  // No answer in time: the request stays journalled, the sale stays totalled and the card
  // error follows.
  if (!built && signing_.LastUnanswered()) return built.error();
  // Any other failure happened after the request was journalled: the receipt is finished.
  if (!built) signingError_ = built.error();
  return record_.ResponseReceiptText();
}

Result<void> Register::SetSwitch(Switch which, bool on) {
  const ChangeNotice notice(*this);
  DebugSwitches debug = signing_.Switches();
  switch (which) {
    case Switch::kTraining:
      sale_.settings.trainingMode = on;
      return {};
    case Switch::kExclusiveTax:
      // The containers of an open sale were booked in the other mode.
      if (!sale_.NoSaleOpen()) return MessageError(ErrorKind::kBusy, Message::kTaxModeDuringSale);
      config_.exclusiveTax = on;
      return {};
    case Switch::kSecurityText:
      sale_.settings.showSecurityText = on;
      if (!on) sale_.settings.showQrCode = true;
      return {};
    case Switch::kQrCode:
      sale_.settings.showQrCode = on;
      if (!on) sale_.settings.showSecurityText = true;
      return {};
    case Switch::kHashOnCard:
      debug.checkHash = on;
      break;
    case Switch::kVerifyOnCard:
      debug.checkVer = on;
      break;
    case Switch::kManipulateRecord:
      debug.checkManVer = on;
      break;
    case Switch::kManipulateTransaction:
      debug.checkTrans = on;
      break;
  }
  signing_.SetSwitches(debug);
  return {};
}

Result<void> Register::SaveSettings(std::optional<MonitorsAtStart> monitors) {
  if (monitors) {
    config_.showCardMonitor = monitors->cardMonitor;
    config_.showFunctionMonitor = monitors->functionMonitor;
  }
  return config_.SaveConfiguration();
}

Result<void> Register::SetRates(const std::array<std::string, 6>& rates) {
  const ChangeNotice notice(*this);
  if (!sale_.NoSaleOpen()) return MessageError(ErrorKind::kBusy, Message::kRatesDuringSale);
  for (const std::string& rate : rates)
    if (!RegisterConfig::IsRateText(rate))
      return MessageError(ErrorKind::kMalformed, Message::kRateNotFourDigits, {rate});
  config_.containerRate = rates;
  return {};
}

Result<void> Register::SetLanguage(std::string_view name) {
  const ChangeNotice notice(*this);
  const std::string section = Language::LanguageOfMenuEntry(name);
  // The register goes on with empty texts; the operator is told why they are empty.
  if (!language_.ApplyLanguage(section))
    warnings_.push_back(EnglishMessage(Message::kLanguageMissingWarning, {section}));
  config_.language = section;
  card_.Session().SetLanguageCode(language_.LangText(1));
  return {};
}

void Register::SetClockMode(ClockMode mode) {
  const ChangeNotice notice(*this);
  clock_.SetTime(mode);
}

void Register::SetClockPickers(AppDateTime value) {
  const ChangeNotice notice(*this);
  clock_.SetPickers(value, value);
}

void Register::SetCardMonitor(CardMonitorState state) {
  CardMonitorLog& log = card_.Log();
  if (state == CardMonitorState::kClosed)
    log.WindowClosed();
  else
    log.ShowMonitor(1, state == CardMonitorState::kShown ? 1 : 0);
}

void Register::ClearLog(Log log) {
  if (log == Log::kCardMonitor)
    card_.Log().Clear();
  else
    monitor_.Clear();
}

Result<void> Register::LoadProducts(const std::filesystem::path& file) {
  const ChangeNotice notice(*this);
  return products_.Load(file);
}

Result<void> Register::SaveReceipt(const std::filesystem::path& file) const {
  return SaveReceiptText(file, sale_.ReceiptText());
}

Result<void> Register::PrintRaw(const std::filesystem::path& file) const {
  std::vector<std::string> lines = sale_.ReceiptLines();
  TrimEmptyLastLines(lines);
  const std::string job = BuildRawPrintJob(lines, qr_.LastVerifyUrl());
  if (!file.empty()) return SaveReceiptText(file, job);
  return PrintRawJob(config_.rawQueue, job);
}

}  // namespace kasse
