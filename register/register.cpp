#include "register/register.h"

#include <cstdio>

#include "card/card_messages.h"
#include "common/amount.h"
#include "common/base_n.h"
#include "common/cp1252.h"
#include "common/files.h"
#include "common/user_folders.h"
#include "journal/journal_rescue.h"
#include "receipt/cups_printer.h"
#include "receipt/raw_print_job.h"
#include "receipt/receipt_file.h"
#include "register/messages.h"

namespace kasse {

// What the reports, the card session and the signing exchange ask of the register, kept off
// its public face.
class Register::Adapters final : public ReportDialog, public CardSessionHost, public DebugHold {
 public:
  explicit Adapters(Register& reg) : reg_(reg) {}

  // ReportDialog: without a host every question is answered OK.
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
  Bytes HoldForDebug(Bytes command) override {
    DebugHold* hold = reg_.host_ != nullptr ? reg_.host_->CommandHold() : nullptr;
    return hold != nullptr ? hold->HoldForDebug(std::move(command)) : command;
  }
  void HideConsole() override {
    if (DebugHold* hold = reg_.host_ != nullptr ? reg_.host_->CommandHold() : nullptr)
      hold->HideConsole();
  }

 private:
  Register& reg_;
};

Register::Register(RegisterOptions options, std::unique_ptr<CardBackend> card)
    : options_(std::move(options)),
      config_(options_.home),
      language_(options_.home),
      journal_(options_.home, SystemDateYymmdd,
               options_.journalIo != nullptr ? *options_.journalIo : PosixFileIo()),
      clock_(options_.now),
      itemList_(monitor_, language_.Texts()),
      sale_(config_, language_.Texts(), itemList_, containers_),
      adapters_(std::make_unique<Adapters>(*this)),
      record_(monitor_, language_.Texts(), journal_, clock_),
      qr_(&monitor_),
      card_(std::move(card)),
      ledger_(options_.home),
      signing_(card_.Link(), adapters_.get()),
      reports_(record_, card_.Link(), *adapters_),
      random_(options_.seed) {
  signing_.SetGuard(&ledger_);
  reports_.SetGuard(&ledger_);
  journal_.SetParamsSource([this] {
    const JournalCardParameters p = card_.Session().JournalParameters();
    return QorParams{p.qorVersion, p.tpId, p.tpIdNo, p.certificate};
  });
  journal_.SpillPendingInto(StateFolder());
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
  // cfg/start.ini, when it names a language, overrides this at Start.
  if (!options_.newHomeLanguage.empty()) config_.language = options_.newHomeLanguage;
}

Register::~Register() {
  if (!runEnded_) {
    const RunEnd end = EndRun();
    // A front-end that did not end the run itself still must not lose a signed record.
    if (end.kind != RunEnd::Kind::kWritten)
      std::fprintf(stderr, "kasse: %s\n%s", end.message ? end.message->English().c_str() : "",
                   end.recordsText.c_str());
  }
  card_.Session().SetNotifyTarget(nullptr);
  // A card command that outlasted its patience may still bring a signature: it is journalled
  // while the journals are open.
  (void)card_.FinishLateAnswer(CardStack::kLateAnswerWait);
}

std::filesystem::path Register::StateFolder() const {
  return options_.stateFolder.empty() ? UserStateFolder() : options_.stateFolder;
}

FileIo& Register::JournalIo() const {
  return options_.journalIo != nullptr ? *options_.journalIo : PosixFileIo();
}

Result<void> Register::WriteRescuedRecords() {
  for (const std::filesystem::path& file : RescuesOf(StateFolder(), options_.home)) {
    Result<RescuedRecords> rescued = [&]() -> Result<RescuedRecords> {
      Result<std::string> text = ReadFile(file, kMaxSmallFile * 8);
      if (!text) return text.error();
      return ParseRescue(*text);
    }();
    if (!rescued) {
      warnings_.push_back(
          MakeError(ErrorKind::kIo, msg::kRescueUnreadable, {file.string(), rescued.error()}));
      continue;
    }
    Journal pair(options_.home, SystemDateYymmdd, JournalIo());
    const QorParams params = rescued->records.params;
    pair.SetParamsSource([params] { return params; });
    pair.MarkRecordStart();
    Result<void> written =
        pair.JournalWrite(kJournalS, JournalSection::kRecord, rescued->records.s);
    if (written)
      written = pair.JournalWrite(kJournalL, JournalSection::kRecord, rescued->records.l);
    if (written) written = pair.Sync();
    if (!written) {
      pair.AbandonJournalPair();
      return JournalError(msg::kRescueUnwritable, {file.string()}, written.error());
    }
    (void)pair.CloseJournalPair();
    JournalIo().Unlink(file);
    (void)JournalIo().SyncFolder(file.parent_path());
    warnings_.push_back(MakeError(ErrorKind::kIo, msg::kRescueWrittenToJournal,
                                  {pair.SName().filename().string()}));
  }
  return {};
}

Register::RunEnd Register::EndRun() {
  runEnded_ = true;
  RunEnd end;
  // The export pair takes what waits for it before the run's pending text is gone.
  if (Result<void> exported = journal_.ExportFlush(); !exported)
    end.message = MakeError(ErrorKind::kIo, "The export pair did not get the last records (" +
                                                exported.error().English() +
                                                "); the journal pair holds them.");
  (void)journal_.Flush();  // a failure leaves the journal behind: synced or rescued below
  if (!journal_.IsBehind()) return end;
  if (journal_.Sync()) {
    ReleaseHeldReceipt();
    return end;
  }
  const HeldRecords held = journal_.Held();
  Result<std::filesystem::path> rescued =
      WriteRescue(StateFolder(), RescuedRecords{options_.home, held}, JournalIo());
  if (rescued) {
    // The rescue is the one complete copy: the pair is not to get half of it later.
    journal_.AbandonJournalPair();
    end.kind = RunEnd::Kind::kRescued;
    end.rescueFile = *rescued;
    end.message = MakeError(ErrorKind::kIo, msg::kRecordsRescued, {rescued->string()});
    return end;
  }
  end.kind = RunEnd::Kind::kLost;
  end.recordsText = RecordsAsBase64Lines(held.s);
  end.message = MakeError(ErrorKind::kIo, msg::kRecordsLost, {rescued.error()});
  return end;
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
  // Records rescued at the end of an earlier run go into the journal before anything else.
  if (auto rescued = WriteRescuedRecords(); !rescued) return rescued;
  ledger_.ReadJournals(warnings_);
  card_.Exchange().SetPatience(config_.cardPatience);
  if (!language_.ApplyLanguage(config_.language))
    warnings_.push_back(language_.FileProblem()
                            ? *language_.FileProblem()
                            : MakeError(ErrorKind::kMissingInput, msg::kLanguageMissingWarning,
                                        {config_.language}));
  if (language_.FileWasUtf8()) warnings_.push_back(Utf8FileNotice("cfg/lang.ini"));
  if (auto loaded = products_.Load(DefaultProductFile(options_.home)); !loaded)
    warnings_.push_back(loaded.error());
  else if (products_.LoadNotice())
    warnings_.push_back(*products_.LoadNotice());
  // Logging starts on whatever the window then shows: a monitor hidden at start still logs.
  card_.Log().ShowMonitor(1, 0);

  CardSession& session = card_.Session();
  session.SetLanguageCode(language_.LangText(1));
  session.Startup();
  TakeCardNotices();
  // The card was found at once: what the end of the debounce does, without waiting for it.
  const bool checkNow = !options_.checkAfterDebounce;
  if (checkNow && !cardFailed_ && !cardChecked_) session.CardPresentMessage();
  if (cardFailed_ || (checkNow && !cardChecked_)) {
    ShowCardError();
    return CardFailure();
  }
  sale_.settings.versionLevel = session.State().VersionLevel;
  sale_.ResetReceipt();
  return {};
}

void Register::TakeCardNotices() {
  for (std::string& notice : card_.TakeCardNotices()) {
    card_.Log().AddLine(notice, kMonitorDarkRed);
    warnings_.push_back(MakeError(ErrorKind::kCard, std::move(notice)));
    cardEvent_ = true;
  }
}

void Register::ProcessCardEvents() {
  // Called every few milliseconds: the host hears only of events that happened.
  cardEvent_ = false;
  TakeCardNotices();
  card_.Connector().ProcessPendingEvents();
  card_.Session().RunDueTimers();
  if (cardEvent_ && operationDepth_ == 0) NotifyChanged();
}

void Register::CardCheckPassed(const CardState& state) {
  cardEvent_ = true;
  cardChecked_ = true;
  const Result<Bytes> certificate = Base64Decode(state.Certificate);
  const Result<std::int64_t> number = ParseInteger(state.TpIdNo);
  ledger_.SetCard(state.TpId, number && *number >= 0 ? static_cast<std::uint64_t>(*number) : 0,
                  certificate ? CardKeyId(*certificate) : std::string(), warnings_);
  cardReader_ = card_.Connector().SelectedReader();
  sale_.settings.versionLevel = state.VersionLevel;
}

Error Register::CardFailure() const {
  Error failure = cardFailure_ ? *cardFailure_ : MakeError(ErrorKind::kCard, msg::kCardFailed);
  failure.kind = ErrorKind::kCard;
  return failure;
}

void Register::FailCard(const Error& reason) {
  if (!cardFailed_) {
    cardFailed_ = true;
    cardFailure_ = reason;
  }
  ShowCardError();
}

void Register::ShowCardError() {
  cardEvent_ = true;
  if (!cardFailed_) {
    cardFailed_ = true;
    const CardState& state = card_.Session().State();
    if (std::optional<Error> simError = card_.StartError())
      cardFailure_ = MakeError(ErrorKind::kCard, msg::kSimCardCannotStart, {std::move(*simError)});
    else if (card_.Exchange().CardStoppedAnswering())
      cardFailure_ = MakeError(ErrorKind::kCard, msg::kCardStoppedAnswering,
                               {std::to_string(config_.cardPatience.count())});
    else if (std::optional<Error> cause = card_.Session().FailureCause())
      cardFailure_ = std::move(*cause);  // what PC/SC said happened
    else
      cardFailure_ =
          MakeError(ErrorKind::kCard, state.TpId.empty() ? card_msg::kNoCard : msg::kCardFailed);
  }
  if (host_ != nullptr) host_->CardFailed();
}

void Register::RequestTransportPin() {
  cardEvent_ = true;
  pinRequested_ = true;
  if (host_ != nullptr) host_->RequestTransportPin();
}

Result<void> Register::CardReady() const {
  if (cardFailed_) return CardFailure();
  if (!cardChecked_) return MakeError(ErrorKind::kCard, msg::kCardNotReady);
  return {};
}

Result<void> Register::SelectOperator(int number) {
  const ChangeNotice notice(*this);
  if (number != 1 && number != 2) return MakeError(ErrorKind::kUnusableInput, msg::kOperatorNumber);
  config_.activeOperator = number;
  return {};
}

Result<void> Register::SetOperatorName(int number, std::string name) {
  const ChangeNotice notice(*this);
  if (number != 1 && number != 2) return MakeError(ErrorKind::kUnusableInput, msg::kOperatorNumber);
  name = name.substr(0, RegisterConfig::kMaxOperatorName);
  (number == 1 ? config_.operatorName1 : config_.operatorName2) = std::move(name);
  return {};
}

Result<void> Register::BookProduct(std::size_t index, std::string_view quantityText) {
  const ChangeNotice notice(*this);
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  const auto& list = products_.Products();
  if (index >= list.size())
    return MakeError(ErrorKind::kUnusableInput, msg::kNoProductAtIndex, {std::to_string(index)});
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
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  Result<BookingPosition> position = MakeSpecialPosition(fields);
  if (!position) return position.error();
  return sale_.BookPosition(*position);
}

Result<void> Register::Storno(std::optional<std::size_t> line) {
  const ChangeNotice notice(*this);
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  return sale_.CancelPosition(line.value_or(sale_.ReceiptLines().size()));
}

Result<void> Register::JournalCaughtUp() {
  (void)journal_.Flush();  // a failure leaves the journal behind, which is tried below
  if (journal_.IsBehind()) {
    // A record the journal holds in memory only is written first; no new signature before.
    if (auto synced = journal_.Sync(); !synced)
      return JournalError(msg::kJournalStillHeld, {}, synced.error());
  }
  ReleaseHeldReceipt();
  return {};
}

Result<void> Register::Percentage(PercentSign sign, std::string_view percent) {
  const ChangeNotice notice(*this);
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  return sale_.ApplyPercentage(sign, percent);
}

Result<void> Register::Summe() {
  const ChangeNotice notice(*this);
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  return sale_.KassierenEnabled() ? Kassieren() : sale_.TotalSale();
}

void Register::Abbruch() {
  const ChangeNotice notice(*this);
  sale_.AbortSale();
}

void Register::LeaveSale() {
  const ChangeNotice notice(*this);
  // A held receipt stays in view until its record is written.
  if (!JournalCaughtUp()) return;
  sale_.LeaveSale();
  sale_.ResetReceipt();
}

Result<void> Register::Kassieren() {
  const ChangeNotice notice(*this);
  if (auto ready = CardReady(); !ready) return ready;
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  Result<RecordFlags> flags = sale_.BeginCashIn();
  if (!flags) return flags.error();
  TransactionInput input;
  input.flags = *flags;
  input.operatorName = config_.ActiveOperatorName();
  input.versionLevel = card_.Session().State().VersionLevel;
  CardHasher* hasher = signing_.Switches().checkHash ? &card_.Hasher() : nullptr;
  CardOutcome outcome = record_.BuildTransaction(input, itemList_, containers_, hasher, &signing_);
  if (!outcome.Finished()) {
    // Not sent, not answered, or an answer the register refused: no receipt, and the sale
    // stays totalled.
    sale_.CancelCashIn();
    if (outcome.stage == CardStage::kRejected) FailCard(*outcome.error);
    if (outcome.journalFailure)
      return JournalError(msg::kSaleNotSignedJournal, {}, *outcome.journalFailure);
    return outcome.Status();
  }
  if (outcome.receipt.itemHash) sale_.AppendHashText(*outcome.receipt.itemHash, false);
  if (outcome.recordsHeld) {
    const Error cause = outcome.journalFailure.value_or(*outcome.error);
    HoldReceipt(std::move(outcome), HeldKind::kSale);
    return JournalError(msg::kSaleSignedJournalHeld, {}, cause);
  }
  AppendSaleParts(outcome.receipt);
  sale_.CloseCashIn();
  ShowVerifyUrl(outcome.receipt);
  if (cardFailed_) return CardFailure();
  return outcome.Status();
}

void Register::AppendSaleParts(const ReceiptParts& parts) {
  if (parts.colour) sale_.SetReceiptColour(*parts.colour);
  if (parts.signature) sale_.AppendSignatureText(*parts.signature, false);
  sale_.AppendText(parts.responseText);
}

void Register::ShowVerifyUrl(const ReceiptParts& parts) {
  qr_.QRReset();
  qr_.QRAppend(parts.qrPayload);
  qr_.BuildVerifyUrl(config_.verifyHost);
  if (sale_.settings.showQrCode && !qr_.LastVerifyUrl().empty()) sale_.AppendQrSpace();
}

void Register::HoldReceipt(CardOutcome outcome, HeldKind kind) {
  if (kind == HeldKind::kSale) {
    // The sale is signed: it is over, and no URL of it may be shown before its record exists.
    sale_.CloseCashIn();
    qr_.QRReset();
    qr_.BuildVerifyUrl(config_.verifyHost);
  }
  sale_.SetHeldNotice(language_.LangText(msg::kReceiptHeldLine.number));
  held_ = HeldReceipt{std::move(outcome), kind};
}

void Register::ReleaseHeldReceipt() {
  if (!held_) return;
  const HeldReceipt held = std::move(*held_);
  held_.reset();
  sale_.ClearHeldNotice();
  if (held.kind == HeldKind::kReport) {
    FinishReportReceipt(held.outcome.receipt);
    return;
  }
  AppendSaleParts(held.outcome.receipt);
  ShowVerifyUrl(held.outcome.receipt);
}

Result<void> Register::RetryJournal() {
  const ChangeNotice notice(*this);
  return JournalCaughtUp();
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
      if (!sale_.NoSaleOpen()) return MakeError(ErrorKind::kBusy, msg::kTaxModeDuringSale);
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
  return config_.SaveConfiguration(JournalIo());
}

Result<void> Register::SetRates(const std::array<std::string, 6>& rates) {
  const ChangeNotice notice(*this);
  if (!sale_.NoSaleOpen()) return MakeError(ErrorKind::kBusy, msg::kRatesDuringSale);
  for (const std::string& rate : rates)
    if (!RegisterConfig::IsRateText(rate))
      return MakeError(ErrorKind::kMalformed, msg::kRateNotFourDigits, {rate});
  config_.containerRate = rates;
  return {};
}

Result<void> Register::SetLanguage(std::string_view name) {
  const ChangeNotice notice(*this);
  const std::string section = Language::LanguageOfMenuEntry(name);
  // The register goes on with empty texts; the operator is told why they are empty.
  if (!language_.ApplyLanguage(section))
    warnings_.push_back(
        language_.FileProblem()
            ? *language_.FileProblem()
            : MakeError(ErrorKind::kMissingInput, msg::kLanguageMissingWarning, {section}));
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

Result<void> Register::Export(ExportKind kind, const std::filesystem::path& file) {
  return kind == ExportKind::kNew ? journal_.ExportNew(file) : journal_.ExportOpen(file);
}

Result<void> Register::ReceiptMayLeave() const {
  if (!held_) return {};
  return JournalError(msg::kJournalStillHeld, {}, held_->outcome.journalFailure.value_or(Error{}));
}

Result<void> Register::SaveReceipt(const std::filesystem::path& file) const {
  if (auto may = ReceiptMayLeave(); !may) return may;
  return SaveReceiptText(file, sale_.ReceiptText());
}

Result<void> Register::PrintRaw(const std::filesystem::path& file) {
  const ChangeNotice notice(*this);
  if (auto may = ReceiptMayLeave(); !may) return may;
  std::vector<std::string> lines = sale_.ReceiptLines();
  TrimEmptyLastLines(lines);
  const std::string job = BuildRawPrintJob(lines, qr_.LastVerifyUrl());
  Result<void> sent =
      file.empty() ? PrintRawJob(config_.rawQueue, job) : SaveReceiptText(file, job);
  // A printer that is missing leaves the receipt as it was.
  if (sent) sale_.TrimEmptyLastLines();
  return sent;
}

}  // namespace kasse
