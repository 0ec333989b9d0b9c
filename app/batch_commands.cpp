// The command groups of the batch front-end.

#include <chrono>
#include <ostream>

#include "app/batch_runner.h"
#include "common/amount.h"
#include "common/cp1252.h"
#include "protocol/card_answers.h"
#include "register/messages.h"

namespace kasse {

namespace {

Error Usage(const std::string& text) {
  return MakeError(ErrorKind::kMissingInput, "usage: " + text);
}

Result<std::int64_t> Number(const std::string& text) {
  Result<std::int64_t> value = ParseInteger(text);
  if (!value) return MakeError(ErrorKind::kMalformed, "not a number: " + text);
  return value;
}

// "MM/YYYY".
bool MonthYear(const std::string& text, int& month, int& year) {
  if (text.size() != 7 || text[2] != '/') return false;
  const Result<std::int64_t> m = ParseInteger(text.substr(0, 2));
  if (!m) return false;
  const Result<std::int64_t> y = ParseInteger(text.substr(3));
  if (!y) return false;
  month = static_cast<int>(*m);
  year = static_cast<int>(*y);
  return true;
}

// "YYYY-MM-DD" and "HH:MM", a day the calendar has (no 30 February).
std::optional<CivilDateTime> ClockSetting(const std::string& date, const std::string& time) {
  const auto digits = [](const std::string& text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  if (date.size() != 10 || date[4] != '-' || date[7] != '-' || time.size() != 5 || time[2] != ':')
    return std::nullopt;
  CivilDateTime when;
  when.year = digits(date, 0, 4);
  when.month = digits(date, 5, 2);
  when.day = digits(date, 8, 2);
  when.hour = digits(time, 0, 2);
  when.minute = digits(time, 3, 2);
  const std::chrono::year_month_day day{std::chrono::year{when.year},
                                        std::chrono::month{static_cast<unsigned>(when.month)},
                                        std::chrono::day{static_cast<unsigned>(when.day)}};
  if (when.year < 1 || when.month < 0 || when.day < 0 || !day.ok() || when.hour < 0 ||
      when.hour > 23 || when.minute < 0 || when.minute > 59)
    return std::nullopt;
  return when;
}

}  // namespace

SpecialPositionFields PositionFields(const std::vector<std::string>& arguments) {
  const BatchFields split = SplitFields(arguments);
  SpecialPositionFields fields;
  auto value = [&](const char* key) {
    auto found = split.values.find(key);
    return found == split.values.end() ? std::string() : found->second;
  };
  fields.name = value("name");
  fields.unit = value("unit");
  fields.quantity = split.values.count("qty") != 0 ? value("qty") : "1";
  for (std::size_t i = 0; i < fields.prices.size(); ++i)
    fields.prices[i] = value(("p" + std::to_string(i + 1)).c_str());
  for (const std::string& flag : split.flags) {
    if (flag == "discount") fields.discountSurcharge = true;
    if (flag == "voucher") fields.voucher = true;
    if (flag == "agency") fields.agency = true;
    if (flag == "delivery") fields.deliveryNote = true;
  }
  return fields;
}

Result<void> BatchRunner::BookSelected() {
  if (!selected_) return MakeError(ErrorKind::kMissingInput, msg::kNoProductSelected);
  return register_->BookProduct(*selected_, quantity_);
}

Result<void> BatchRunner::SaleCommand(const BatchLine& line, bool& handled) {
  handled = true;
  const std::string& c = line.command;
  const auto& a = line.arguments;
  Register& r = *register_;
  if (c == "operator") {
    if (a.size() != 1) return Usage("operator 1|2");
    return r.SelectOperator(a[0] == "1" ? 1 : a[0] == "2" ? 2 : 0);
  }
  if (c == "operator-name") {
    if (a.size() != 2) return Usage("operator-name 1|2 TEXT");
    return r.SetOperatorName(a[0] == "1" ? 1 : a[0] == "2" ? 2 : 0, a[1]);
  }
  if (c == "select") {
    if (a.size() != 1) return Usage("select INDEX");
    Result<std::int64_t> index = Number(a[0]);
    if (!index) return index.error();
    if (*index < 0 || static_cast<std::size_t>(*index) >= r.Products().Products().size())
      return MakeError(ErrorKind::kUnusableInput, msg::kNoProductAtIndex, {a[0]});
    selected_ = static_cast<std::size_t>(*index);
    return {};
  }
  if (c == "select-name") {
    if (a.size() != 1) return Usage("select-name TEXT");
    const auto& list = r.Products().Products();
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i].name == a[0]) {
        selected_ = i;
        return {};
      }
    return MakeError(ErrorKind::kUnusableInput, "no product named " + a[0]);
  }
  if (c == "qty") {
    if (a.size() != 1) return Usage("qty TEXT");
    quantity_ = a[0];
    return {};
  }
  if (c == "book") return BookSelected();
  if (c == "special") return r.BookSpecial(PositionFields(a));
  if (c == "storno") {
    if (a.empty()) return r.Storno(std::nullopt);
    Result<std::int64_t> lineIndex = Number(a[0]);
    if (!lineIndex || *lineIndex < 0) return MakeError(ErrorKind::kMalformed, "bad line " + a[0]);
    return r.Storno(static_cast<std::size_t>(*lineIndex));
  }
  if (c == "rabatt" || c == "aufschlag") {
    if (a.size() != 1) return Usage(c + " PERCENT");
    return r.Percentage(c == "rabatt" ? PercentSign::kDiscount : PercentSign::kSurcharge, a[0]);
  }
  if (c == "summe") return r.Summe();
  if (c == "kassieren") return r.Kassieren();
  if (c == "abbruch") {
    r.Abbruch();
    return {};
  }
  handled = false;
  return {};
}

Result<void> BatchRunner::SwitchCommand(const BatchLine& line, bool& handled) {
  handled = true;
  const std::string& c = line.command;
  const auto& a = line.arguments;
  Register& r = *register_;
  if (c == "training" || c == "text" || c == "qrcode" || c == "verify" || c == "hash-on-card") {
    Result<bool> on = OnOff(a);
    if (!on) return on.error();
    using Switch = Register::Switch;
    const Switch which = c == "training" ? Switch::kTraining
                         : c == "text"   ? Switch::kSecurityText
                         : c == "qrcode" ? Switch::kQrCode
                         : c == "verify" ? Switch::kVerifyOnCard
                                         : Switch::kHashOnCard;
    return r.SetSwitch(which, *on);
  }
  if (c == "tax") {
    if (a.size() != 1 || (a[0] != "inclusive" && a[0] != "exclusive"))
      return Usage("tax inclusive|exclusive");
    return r.SetSwitch(Register::Switch::kExclusiveTax, a[0] == "exclusive");
  }
  if (c == "rates") {
    if (a.size() != 6) return Usage("rates R1 R2 R3 R4 R5 R6");
    return r.SetRates({a[0], a[1], a[2], a[3], a[4], a[5]});
  }
  if (c == "language") {
    if (a.size() != 1) return Usage("language NAME");
    const std::size_t known = r.Warnings().size();
    Result<void> set = r.SetLanguage(a[0]);
    // A language without texts is taken; say why the texts are empty.
    for (std::size_t i = known; i < r.Warnings().size(); ++i)
      err_ << "warning: " << Cp1252ToUtf8(r.Warnings()[i].English()) << "\n";
    return set;
  }
  if (c == "clock") {
    const std::optional<CivilDateTime> when =
        a.size() == 2 ? ClockSetting(a[0], a[1]) : std::nullopt;
    if (!when) return Usage("clock YYYY-MM-DD HH:MM (a day of the calendar, 00:00 to 23:59)");
    // As the clock window sets it: the pickers in mode stellen, then the clock runs on.
    r.SetClockMode(ClockMode::kStellen);
    r.SetClockPickers(ToAppDateTime(*when));
    r.SetClockMode(ClockMode::kSynchron);
    return {};
  }
  if (c == "clock-mode") {
    if (a.size() == 1 && a[0] == "gleich")
      r.SetClockMode(ClockMode::kGleich);
    else if (a.size() == 1 && a[0] == "synchron")
      r.SetClockMode(ClockMode::kSynchron);
    else if (a.size() == 1 && a[0] == "statisch")
      r.SetClockMode(ClockMode::kStatisch);
    else
      return Usage("clock-mode gleich|synchron|statisch");
    return {};
  }
  handled = false;
  return {};
}

Result<void> BatchRunner::ReportCommand(const BatchLine& line, bool& handled) {
  handled = true;
  const std::string& c = line.command;
  const auto& a = line.arguments;
  Register& r = *register_;
  if (c == "report" && a.size() == 2 && a[0] == "daily") {
    if (a[1] != "signed" && a[1] != "unsigned") return Usage("report daily signed|unsigned");
    return r.DailyClosing(a[1] == "signed" ? ClosingKind::kSigned : ClosingKind::kUnsigned);
  }
  if (c == "report" && a.size() == 3 && a[0] == "span") {
    int m1 = 0, y1 = 0, m2 = 0, y2 = 0;
    if (!MonthYear(a[1], m1, y1) || !MonthYear(a[2], m2, y2))
      return Usage("report span MM/YYYY MM/YYYY");
    const std::optional<Bytes> first = PackedReportMonth(m1, y1);
    const std::optional<Bytes> last = PackedReportMonth(m2, y2);
    if (!first || !last) return MakeError(ErrorKind::kMalformed, msg::kMonthForm);
    return r.SpanReport(*first, *last);
  }
  if (c == "report" && a.size() == 1 && a[0] == "months") {
    Result<BookedMonths> months = r.ReportMonths();
    if (!months) return months.error();
    for (const std::string& text : MonthListLines(*months))
      out_ << Cp1252ToUtf8(text) << "\n";
    return {};
  }
  if (c == "report") return Usage("report daily|span|months ...");
  if (c == "activate") {
    if (a.size() != 1) return Usage("activate PIN");
    return r.Activate(a[0]);
  }
  if (c == "deactivate") return r.Deactivate();
  if (c == "status") {
    const Result<std::vector<std::string>> values = r.Status();
    if (!values) return values.error();
    for (const std::string& value : *values)
      out_ << Cp1252ToUtf8(value) << "\n";
    return {};
  }
  if (c == "mass") return Mass(a);
  handled = false;
  return {};
}

}  // namespace kasse
