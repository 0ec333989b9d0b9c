// The report and card operations of the controller, and the mass generator.

#include <cstdio>

#include "common/packed.h"
#include "register/messages.h"
#include "register/register.h"

namespace kasse {

namespace {

// Three packed bytes: 20 09 01 is January 2009.
std::optional<Bytes> PackedMonth(int month, int year) {
  if (month < 1 || month > 12 || year < 1000 || year > 9999) return std::nullopt;
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d%02d", year, month);
  return PackDigits(digits);
}

}  // namespace

Result<void> Register::BeforeReport() {
  if (auto ready = CardReady(); !ready) return ready;
  if (auto caught = JournalCaughtUp(); !caught) return caught;
  // The report takes the receipt: an open sale is dropped.
  sale_.LeaveSale();
  return {};
}

Result<void> Register::DailyClosing(bool signedClosing) {
  if (auto ready = BeforeReport(); !ready) return ready;
  return reports_.DailyClosing(signedClosing);
}

Result<void> Register::SpanReport(int firstMonth, int firstYear, int lastMonth, int lastYear) {
  const std::optional<Bytes> first = PackedMonth(firstMonth, firstYear);
  const std::optional<Bytes> last = PackedMonth(lastMonth, lastYear);
  if (!first || !last) return MessageError(ErrorKind::kMalformed, Message::kMonthForm);
  if (firstYear * 12 + firstMonth > lastYear * 12 + lastMonth)
    return MessageError(ErrorKind::kUnusableInput, Message::kFirstMonthAfterLast);
  if (auto ready = BeforeReport(); !ready) return ready;
  return reports_.SpanReport(*first, *last);
}

// Reading the months writes nothing into the receipt: an open sale stays as it is.
Result<BookedMonths> Register::ReportMonths() {
  if (auto ready = CardReady(); !ready) return ready.error();
  return reports_.ReadBookedMonths();
}

Result<void> Register::Activate(const std::string& pin) {
  if (auto ready = BeforeReport(); !ready) return ready;
  Result<void> activated = reports_.ActivateCard(pin);
  if (activated) {
    pinRequested_ = false;
    (void)card_.Session().ReadCardStatus();
  }
  return activated;
}

Result<void> Register::Deactivate() {
  if (auto ready = BeforeReport(); !ready) return ready;
  Result<void> deactivated = reports_.DeactivateCard();
  (void)card_.Session().ReadCardStatus();
  return deactivated;
}

std::vector<std::string> Register::Status() {
  if (!CardReady()) return {};
  sale_.LeaveSale();
  return card_.Session().QORStateClick();
}

Result<int> Register::MassTransactions(MassOptions options, const std::atomic<bool>* stop,
                                       const std::function<void(int, int)>& progress) {
  const auto usable = [](const MassOptions& o) {
    return o.transactions >= 0 && o.maxPositions >= 1 && o.maxQuantity >= 0;
  };
  if (!usable(options)) return MessageError(ErrorKind::kUnusableInput, Message::kMassCounts);
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
    if (!usable(options)) return MessageError(ErrorKind::kUnusableInput, Message::kMassCounts);
    return {};
  };
  massRefusals_ = 0;
  int done = 0;
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
        return MakeError(ErrorKind::kCard, cardFailure_);
      }
      ++massRefusals_;
    }
    ++done;
    if (progress) progress(done, options.transactions);
    if (stopped()) break;
  }
  return done;
}

}  // namespace kasse
