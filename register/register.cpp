#include "register/register.h"

#include "common/cp1252.h"
#include "common/files.h"
#include "receipt/receipt_file.h"

namespace kasse {

Register::Register(RegisterOptions options)
    : options_(std::move(options)),
      config_(options_.home),
      language_(options_.home),
      journal_(options_.home),
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
    warnings_.push_back("cfg/lang.ini has no texts for the language " + config_.language);
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
  if (auto opened = journal_.OpenJournalPair(); !opened) return opened;
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
    if (card_.Exchange().CardStoppedAnswering()) {
      cardFailure_ = "the QOR card stopped answering: no answer within " +
                     std::to_string(config_.cardPatience.count()) +
                     " ms ([Card] patience); check the card and its reader";
    } else {
      cardFailure_ = state.TpId.empty() ? "no QOR card found or the card does not answer"
                                        : "the QOR card failed or was removed";
    }
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
  if (!cardChecked_) return MakeError(ErrorKind::kCard, "the card is not ready");
  return {};
}

Result<void> Register::SelectOperator(int number) {
  if (number != 1 && number != 2) return MakeError(ErrorKind::kUnusableInput, "operator is 1 or 2");
  config_.activeOperator = number;
  return {};
}

Result<void> Register::SetOperatorName(int number, std::string name) {
  if (number != 1 && number != 2) return MakeError(ErrorKind::kUnusableInput, "operator is 1 or 2");
  name = name.substr(0, RegisterConfig::kMaxOperatorName);
  (number == 1 ? config_.operatorName1 : config_.operatorName2) = std::move(name);
  return config_.SaveConfiguration();
}

Result<void> Register::BookProduct(std::size_t index, std::string_view quantityText) {
  const auto& list = products_.Products();
  if (index >= list.size())
    return MakeError(ErrorKind::kUnusableInput, "no product at index " + std::to_string(index));
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

Result<void> Register::Kassieren() {
  if (auto ready = CardReady(); !ready) return ready;
  signingError_.reset();
  if (auto cashed = sale_.CashIn(); !cashed) return cashed;
  if (cardFailed_) return MakeError(ErrorKind::kCard, cardFailure_);
  if (signingError_) return *signingError_;
  return {};
}

Result<std::string> Register::TryBuildTransaction(bool training, bool exclusiveTax) {
  TransactionInput input;
  input.training = training;
  input.vatAddon = exclusiveTax;
  input.operatorName = config_.ActiveOperatorName();
  input.versionLevel = card_.Session().State().VersionLevel;
  const bool hashOnCard = signing_.Switches().checkHash;
  Result<void> built = record_.BuildTransaction(input, itemList_, containers_,
                                                hashOnCard ? &card_.Hasher() : nullptr, &signing_);
  // Too large for the card: nothing was sent or journalled, the sale stays totalled.
  if (!built && built.error().kind == ErrorKind::kTooLong) return built.error();
  // No answer in time: the request stays journalled, the sale stays totalled and the card
  // error follows.
  if (!built && signing_.LastUnanswered()) return built.error();
  // Any other failure happened after the request was journalled: the receipt is finished.
  if (!built) signingError_ = built.error();
  return record_.ResponseReceiptText();
}

std::string Register::BuildTransaction(bool training, bool exclusiveTax) {
  Result<std::string> text = TryBuildTransaction(training, exclusiveTax);
  return text ? *text : std::string();
}

void Register::BuildVerifyUrl() {
  qr_.BuildVerifyUrl(config_.verifyHost);
}

Result<void> Register::SetExclusiveTax(bool on) {
  // The containers of an open sale were booked in the other mode.
  if (!sale_.NoSaleOpen())
    return MakeError(ErrorKind::kBusy, "the tax mode cannot change during a sale");
  config_.exclusiveTax = on;
  return config_.SaveConfiguration();
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
  return config_.SaveConfiguration();
}

Result<void> Register::SetRates(const std::array<std::string, 6>& rates) {
  if (!sale_.NoSaleOpen())
    return MakeError(ErrorKind::kBusy, "the rates cannot change during a sale");
  for (const std::string& rate : rates)
    if (!RegisterConfig::IsRateText(rate))
      return MakeError(ErrorKind::kMalformed, "a rate is four digits: " + rate);
  config_.containerRate = rates;
  return config_.SaveConfiguration();
}

Result<void> Register::SetLanguage(std::string_view name) {
  const std::string section = Language::LanguageOfMenuEntry(name);
  if (!language_.ApplyLanguage(section))
    return MakeError(ErrorKind::kUnusableInput,
                     "cfg/lang.ini has no texts for the language " + section);
  config_.language = section;
  card_.Session().SetLanguageCode(language_.LangText(1));
  return config_.SaveConfiguration();
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
