#include "register/register.h"

#include "common/cp1252.h"
#include "common/files.h"
#include "receipt/receipt_file.h"
#include "register/messages.h"

namespace kasse {

Register::Register(RegisterOptions options)
    : options_(std::move(options)),
      config_(options_.home),
      language_(options_.home),
      journal_(options_.home, SystemDateYymmdd,
               options_.journalIo != nullptr ? *options_.journalIo : PosixFileIo()),
      clock_(options_.now),
      itemList_(monitor_, language_.Texts()),
      sale_(config_, language_.Texts(), itemList_, containers_),
      record_(monitor_, language_.Texts(), journal_, clock_, this),
      qr_(&monitor_),
      card_(options_.home, options_.card),
      signing_(card_.Link(), *this),
      reports_(record_, card_.Link(), *this),
      random_(options_.seed) {
  sale_.SetCashInSteps(this);
  journal_.SetParamsSource([this] {
    const JournalCardParameters p = card_.Session().JournalParameters();
    return QorParams{p.qorVersion, p.tpId, p.tpIdNo, p.certificate};
  });
  TPCSCConnector& connector = card_.Connector();
  CardSession& session = card_.Session();
  connector.OnCardInserted = [&session] { session.pcsc2CardInserted(true); };
  connector.OnCardRemoved = [&session] { session.pcsc2CardRemoved(); };
  session.SetNotifyTarget(this);
}

Register::~Register() {
  card_.Session().SetNotifyTarget(nullptr);
  // A card command that outlasted its patience may still bring a signature: it is journalled
  // while the journals are open.
  (void)card_.FinishLateAnswer(CardStack::kLateAnswerWait);
}

Result<void> Register::Start() {
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
  card_.Connector().ProcessPendingEvents();
  card_.Session().RunDueTimers();
}

void Register::CardCheckPassed(const CardState& state) {
  cardChecked_ = true;
  sale_.settings.versionLevel = state.VersionLevel;
}

void Register::ShowCardError() {
  if (!cardFailed_) {
    cardFailed_ = true;
    const CardState& state = card_.Session().State();
    const std::string simError = card_.SimStartError();
    if (!simError.empty())
      cardFailure_ = EnglishMessage(Message::kSimCardCannotStart, {simError});
    else if (card_.Exchange().CardStoppedAnswering())
      cardFailure_ = EnglishMessage(Message::kCardStoppedAnswering,
                                    {std::to_string(config_.cardPatience.count())});
    else
      cardFailure_ = EnglishMessage(state.TpId.empty() ? Message::kNoCard : Message::kCardFailed);
  }
  if (onCardError_) onCardError_();
}

void Register::ShowMessage(const std::string& text, const std::string& caption) {
  messages_.push_back(caption.empty() ? text : caption + ": " + text);
  if (prompts_.message) prompts_.message(text, caption);
}

bool Register::Confirm(const std::string& text, const std::string& caption) {
  if (prompts_.confirm) return prompts_.confirm(text, caption);
  messages_.push_back(caption.empty() ? text : caption + ": " + text);
  return true;
}

void Register::RequestTransportPin() {
  pinRequested_ = true;
  if (prompts_.transportPin) prompts_.transportPin();
}

Result<void> Register::CardReady() const {
  if (cardFailed_) return MakeError(ErrorKind::kCard, cardFailure_);
  if (!cardChecked_) return MessageError(ErrorKind::kCard, Message::kCardNotReady);
  return {};
}

Result<void> Register::SelectOperator(int number) {
  if (number != 1 && number != 2)
    return MessageError(ErrorKind::kUnusableInput, Message::kOperatorNumber);
  config_.activeOperator = number;
  return {};
}

Result<void> Register::SetOperatorName(int number, std::string name) {
  if (number != 1 && number != 2)
    return MessageError(ErrorKind::kUnusableInput, Message::kOperatorNumber);
  name = name.substr(0, RegisterConfig::kMaxOperatorName);
  (number == 1 ? config_.operatorName1 : config_.operatorName2) = std::move(name);
  return {};
}

Result<void> Register::BookProduct(std::size_t index, std::string_view quantityText) {
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
  Result<BookingPosition> position = MakeSpecialPosition(fields);
  if (!position) return position.error();
  return sale_.BookPosition(*position);
}

Result<void> Register::Storno(std::optional<std::size_t> line) {
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

Result<void> Register::Kassieren() {
  if (auto ready = CardReady(); !ready) return ready;
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  signingError_.reset();
  if (auto cashed = sale_.CashIn(); !cashed) return cashed;
  if (cardFailed_) return MakeError(ErrorKind::kCard, cardFailure_);
  if (signingError_) return *signingError_;
  return {};
}

Result<std::string> Register::TryBuildTransaction(RecordFlags flags) {
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

std::string Register::BuildTransaction(RecordFlags flags) {
  Result<std::string> text = TryBuildTransaction(flags);
  return text ? *text : std::string();
}

void Register::BuildVerifyUrl() {
  qr_.BuildVerifyUrl(config_.verifyHost);
}

Result<void> Register::SetExclusiveTax(bool on) {
  // The containers of an open sale were booked in the other mode.
  if (!sale_.NoSaleOpen()) return MessageError(ErrorKind::kBusy, Message::kTaxModeDuringSale);
  config_.exclusiveTax = on;
  return {};
}

void Register::SetVerifyOnCard(bool on) {
  DebugSwitches switches = signing_.Switches();
  switches.checkVer = on;
  signing_.SetSwitches(switches);
}

void Register::SetHashOnCard(bool on) {
  DebugSwitches switches = signing_.Switches();
  switches.checkHash = on;
  signing_.SetSwitches(switches);
}

Result<void> Register::SaveMonitorSettings(bool cardMonitor, bool functionMonitor) {
  config_.showCardMonitor = cardMonitor;
  config_.showFunctionMonitor = functionMonitor;
  return {};
}

Result<void> Register::SetRates(const std::array<std::string, 6>& rates) {
  if (!sale_.NoSaleOpen()) return MessageError(ErrorKind::kBusy, Message::kRatesDuringSale);
  for (const std::string& rate : rates)
    if (!RegisterConfig::IsRateText(rate))
      return MessageError(ErrorKind::kMalformed, Message::kRateNotFourDigits, {rate});
  config_.containerRate = rates;
  return {};
}

void Register::SetSecurityText(bool on) {
  sale_.settings.showSecurityText = on;
  if (!on) sale_.settings.showQrCode = true;
}

void Register::SetQrCode(bool on) {
  sale_.settings.showQrCode = on;
  if (!on) sale_.settings.showSecurityText = true;
}

Result<void> Register::SetLanguage(std::string_view name) {
  const std::string section = Language::LanguageOfMenuEntry(name);
  // The register goes on with empty texts; the operator is told why they are empty.
  if (!language_.ApplyLanguage(section))
    warnings_.push_back(EnglishMessage(Message::kLanguageMissingWarning, {section}));
  config_.language = section;
  card_.Session().SetLanguageCode(language_.LangText(1));
  return {};
}

void Register::SetClock(const CivilDateTime& when) {
  const AppDateTime value = ToAppDateTime(when);
  clock_.SetTime(ClockMode::kStellen);
  clock_.SetPickers(value, value);
  clock_.SetTime(ClockMode::kSynchron);
}

Result<void> Register::SaveReceipt(const std::filesystem::path& file) const {
  return SaveReceiptText(file, sale_.ReceiptText());
}

}  // namespace kasse
