// The report and card operations of the controller, and the mass generator.

#include <cstdio>

#include "card/card_status.h"
#include "common/packed.h"
#include "register/card_status_sheet.h"
#include "register/messages.h"
#include "register/register.h"

namespace kasse {

namespace {

// Year times twelve plus month of three packed bytes; nothing for anything PackedReportMonth
// would not give.
std::optional<int> MonthNumber(ByteSpan packed) {
  if (packed.size() != 3) return std::nullopt;
  int digits[6];
  for (std::size_t i = 0; i < 6; ++i) {
    const int digit = (i % 2 == 0 ? packed[i / 2] >> 4 : packed[i / 2]) & 0x0F;
    if (digit > 9) return std::nullopt;
    digits[i] = digit;
  }
  const int year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
  const int month = digits[4] * 10 + digits[5];
  if (month < 1 || month > 12 || year < 1000) return std::nullopt;
  return year * 12 + month;
}

}  // namespace

std::optional<Bytes> PackedReportMonth(int month, int year) {
  if (month < 1 || month > 12 || year < 1000 || year > 9999) return std::nullopt;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d%02d", year, month);
  return PackDigits(digits);
}

Result<void> Register::BeforeReport() {
  if (auto ready = CardReady(); !ready) return ready;
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  // The report takes the receipt: an open sale is dropped.
  sale_.LeaveSale();
  return {};
}

Result<void> Register::ApplyReport(CardOutcome outcome) {
  if (outcome.stage == CardStage::kRejected) {
    FailCard(*outcome.error);
    return outcome.Status();
  }
  if (outcome.journalFailure) {
    const std::string heading = outcome.heading;
    const MessageId& message =
        outcome.Sent() ? msg::kReportSignedJournalHeld : msg::kReportNotSentJournal;
    Error error = JournalError(message, {heading}, *outcome.journalFailure);
    if (outcome.recordsHeld) HoldReceipt(std::move(outcome), HeldKind::kReport);
    return error;
  }
  if (outcome.Finished()) FinishReportReceipt(outcome.receipt);
  return outcome.Status();
}

void Register::FinishReportReceipt(const ReceiptParts& parts) {
  if (parts.responseText.empty()) return;
  sale_.AppendText(parts.responseText);
  if (parts.signature) sale_.AppendSignatureText(*parts.signature, parts.signatureAlways);
}

Result<void> Register::DailyClosing(ClosingKind kind) {
  const ChangeNotice notice(*this);
  if (auto ready = BeforeReport(); !ready) return ready;
  return ApplyReport(reports_.DailyClosing(kind));
}

Result<void> Register::SpanReport(ByteSpan firstMonth, ByteSpan lastMonth) {
  const ChangeNotice notice(*this);
  const std::optional<int> first = MonthNumber(firstMonth);
  const std::optional<int> last = MonthNumber(lastMonth);
  if (!first || !last) return MakeError(ErrorKind::kMalformed, msg::kMonthForm);
  if (*first > *last) return MakeError(ErrorKind::kUnusableInput, msg::kFirstMonthAfterLast);
  if (auto ready = BeforeReport(); !ready) return ready;
  return ApplyReport(reports_.SpanReport(firstMonth, lastMonth));
}

// Reading the months writes nothing into the receipt: an open sale stays as it is.
Result<BookedMonths> Register::ReportMonths() {
  if (auto ready = CardReady(); !ready) return ready.error();
  return reports_.ReadBookedMonths();
}

Result<void> Register::Activate(const std::string& pin) {
  const ChangeNotice notice(*this);
  if (auto ready = BeforeReport(); !ready) return ready;
  Result<void> activated = ApplyReport(reports_.ActivateCard(pin));
  if (activated) {
    pinRequested_ = false;
    (void)card_.Session().ReadCardStatus();
  }
  return activated;
}

Result<void> Register::Deactivate() {
  const ChangeNotice notice(*this);
  if (auto ready = BeforeReport(); !ready) return ready;
  Result<void> deactivated = ApplyReport(reports_.DeactivateCard());
  (void)card_.Session().ReadCardStatus();
  return deactivated;
}

Result<std::vector<std::string>> Register::Status(StatusOutput output) {
  const ChangeNotice notice(*this);
  if (auto caught = JournalCaughtUp(); !caught) return caught.error();
  std::vector<std::string> values;
  if (CardReady()) {
    sale_.LeaveSale();
    values = card_.Session().QORStateClick();
  }
  if (output == StatusOutput::kValues) {
    if (values.empty()) return MakeError(ErrorKind::kCard, msg::kStatusUnreadable);
    return values;
  }
  Result<std::vector<std::string>> outcome = values;
  // A card that gives no status still gets its sheet, with the values last known.
  if (values.empty()) {
    outcome = MakeError(ErrorKind::kCard, msg::kStatusUnreadable);
    values = StatusValues(card_.Session().State());
    sale_.LeaveSale();
  }
  sale_.ResetReceipt();
  sale_.AppendText(CardStatusSheetText(language_, values));
  return outcome;
}

Result<int> Register::MassTransactions(MassOptions options, const std::atomic<bool>* stop,
                                       const std::function<void(int, int, int)>& progress) {
  const ChangeNotice notice(*this);
  const auto usable = [](const MassOptions& o) {
    return o.transactions >= 0 && o.maxPositions >= 1 && o.maxQuantity >= 0;
  };
  if (!usable(options)) return MakeError(ErrorKind::kUnusableInput, msg::kMassCounts);
  auto random = [this](int n) {
    if (n <= 1) return 0;
    return std::uniform_int_distribution<int>(0, n - 1)(random_);
  };
  const auto stopped = [stop] { return stop != nullptr && stop->load(); };
  // The number of sales is read once; every other field each time it is used.
  const auto poll = [&options, &usable]() -> Result<void> {
    if (!options.poll) return {};
    const int transactions = options.transactions;
    if (auto polled = options.poll(options); !polled) return polled;
    options.transactions = transactions;
    if (!usable(options)) return MakeError(ErrorKind::kUnusableInput, msg::kMassCounts);
    return {};
  };
  int done = 0;
  int refused = 0;
  while (done < options.transactions) {
    if (auto polled = poll(); !polled) return polled.error();
    if (options.switchOperator) (void)SelectOperator(random(2) + 1);
    const int positions = random(options.maxPositions) + 1;
    // At least one position per sale: Stop ends the run after the position in progress.
    for (int p = 0; p < positions; ++p) {
      const int m = options.maxQuantity;
      const int quantity = m < 2 ? m : random(m) + 1;
      const auto count = static_cast<int>(products_.Products().size());
      // An empty list selects nothing.
      if (count > 0) {
        if (auto booked =
                BookProduct(static_cast<std::size_t>(random(count)), std::to_string(quantity));
            !booked)
          return booked.error();
      }
      if (random(options.stornoChance) == 1) (void)Storno(std::nullopt);
      ProcessCardEvents();
      if (auto polled = poll(); !polled) return polled.error();
      if (stopped()) break;
    }
    // Nothing booked: the sale is cashed in empty.
    sale_.OpenEmptySale();
    if (auto totalled = Summe(); !totalled) return totalled.error();
    if (auto cashed = Kassieren(); !cashed) {
      // A refusal ends this sale only; a card that failed or went ends the run. A card that
      // refused still answers its status; one that gave no answer at all does not.
      if (cardFailed_ || cashed.error().kind != ErrorKind::kCard) return cashed.error();
      if (!card_.Session().ReadCardStatus()) {
        ShowCardError();
        return CardFailure();
      }
      ++refused;
    }
    ++done;
    // The window shows each finished sale, not each position.
    NotifyChanged();
    if (progress) progress(done, options.transactions, refused);
    if (stopped()) break;
  }
  return done;
}

}  // namespace kasse
