#include <cstdio>

#include "common/hex_text.h"
#include "common/language_texts.h"
#include "journal/xml_text.h"
#include "protocol/card_answers.h"

namespace kasse {
namespace {

std::string Xml(const std::string& name, const std::string& value) {
  return "<" + name + ">" + value + "</" + name + ">";
}

// Walks the answer element by element; every read is checked against the end.
class ReportReader {
 public:
  ReportReader(ByteSpan answer, const LanguageTexts& texts, ReportAnswer& out)
      : data_(answer), texts_(texts), out_(out) {}

  bool AtEnd() const { return position_ >= data_.size(); }
  bool TagIs(Byte tag) const { return !AtEnd() && data_[position_] == tag; }
  bool TagIn(Byte first, Byte last) const {
    return !AtEnd() && data_[position_] >= first && data_[position_] <= last;
  }

  bool Fail(const char* what) {
    out_.problem = MakeError(ErrorKind::kMalformed,
                             std::string("report answer ends inside ") + what, position_);
    return false;
  }

  // The value of the element at the position, bounded by `limit`.
  std::optional<ByteSpan> Take(std::size_t limit) {
    if (position_ + 2 > limit) return {};
    const std::size_t length = data_[position_ + 1];
    if (position_ + 2 + length > limit) return {};
    ByteSpan value = data_.subspan(position_ + 2, length);
    position_ += 2 + length;
    return value;
  }

  bool Lifecycle() {
    if (position_ + 3 > data_.size()) return Fail("the lifecycle");
    const std::string hex = HexCompact(data_.subspan(position_ + 2, 1));
    position_ += 3;
    Emit("lifeCycle", hex, "\r\n" + texts_.LangText(57) + ": \t" + hex);
    return true;
  }

  bool Text(const char* name, int label) {
    auto value = Take(data_.size());
    if (!value) return Fail(name);
    const std::string text = ToText(*value);
    Emit(name, XmlEscape(text), "\r\n" + texts_.LangText(label) + ": \t" + text);
    return true;
  }

  bool Number(const char* name, int label, const char* separator) {
    auto value = Take(data_.size());
    if (!value) return Fail(name);
    auto number = ReadCardInteger(*value);
    if (!number) return Fail(name);
    const std::string text = std::to_string(*number);
    Emit(name, text, "\r\n" + texts_.LangText(label) + separator + text);
    return true;
  }

  // E1..E6: turnover, optional D9, rate, optional DD and DE.
  bool VatContainer() {
    const int c = data_[position_] - 0xE0;
    const std::string what = "containerVat" + std::to_string(c);
    auto outer = Take(data_.size());
    if (!outer) return Fail("a VAT container");
    std::vector<std::string> xml{"<" + what + ">"};
    std::string receipt = "\r\nContainer" + std::to_string(c) + " :";
    ReportAnswer inner;
    ReportReader reader(*outer, texts_, inner);
    auto turnover = reader.Take(outer->size());
    if (!turnover) return Fail("a VAT container");
    Add(xml, receipt, "turnover", ReportAmountText(*turnover), 48);
    if (reader.TagIs(0xD9)) {
      auto negative = reader.Take(outer->size());
      if (!negative) return Fail("a VAT container");
      Add(xml, receipt, "turnoverNeg", ReportAmountText(*negative), 49);
    }
    auto rate = reader.Take(outer->size());
    if (!rate) return Fail("a VAT container");
    std::string digits = HexCompact(*rate);
    while (digits.size() < 4)
      digits.insert(digits.begin(), '0');
    Add(xml, receipt, "vatRate", digits, 50);
    reader.Flags(xml, receipt, true);
    xml.push_back("</" + what + ">");
    Commit(xml, receipt);
    return true;
  }

  // E7, E8, E9: turnover, count, and for E7 and E9 an optional overflow.
  bool CountedContainer(const char* name, int label, bool mayOverflow) {
    auto outer = Take(data_.size());
    if (!outer) return Fail(name);
    std::vector<std::string> xml{std::string("<") + name + ">"};
    std::string receipt = "\r\n" + texts_.LangText(label) + " :";
    ReportAnswer inner;
    ReportReader reader(*outer, texts_, inner);
    auto turnover = reader.Take(outer->size());
    auto count = turnover ? reader.Take(outer->size()) : std::nullopt;
    auto number = count ? ReadCardInteger(*count) : std::nullopt;
    if (!number) return Fail(name);
    Add(xml, receipt, "turnover", ReportAmountText(*turnover), 48);
    Add(xml, receipt, "cnt", std::to_string(*number), 54);
    if (mayOverflow) reader.Flags(xml, receipt, false);
    xml.push_back(std::string("</") + name + ">");
    Commit(xml, receipt);
    return true;
  }

  bool Signature() {
    if (position_ + 2 + 48 > data_.size()) return Fail("the signature");
    out_.signature = Bytes(data_.begin() + static_cast<std::ptrdiff_t>(position_ + 2),
                           data_.begin() + static_cast<std::ptrdiff_t>(position_ + 50));
    position_ += 50;
    return true;
  }

 private:
  void Flags(std::vector<std::string>& xml, std::string& receipt, bool vatChange) {
    if (TagIs(0xDD) && Take(data_.size())) {
      xml.push_back("<overflow />");
      receipt += "\r\n\t" + texts_.LangText(51);
    }
    if (vatChange && TagIs(0xDE) && Take(data_.size())) {
      xml.push_back("<vatChange />");
      receipt += "\r\n\t" + texts_.LangText(52);
    }
  }

  void Add(std::vector<std::string>& xml, std::string& receipt, const char* name,
           const std::string& value, int label) {
    xml.push_back(Xml(name, value));
    receipt += "\r\n\t" + texts_.LangText(label) + ": " + value;
  }

  void Emit(const char* name, const std::string& xmlValue, const std::string& receipt) {
    out_.journalWrites.push_back(Xml(name, xmlValue));
    out_.receiptText += receipt;
  }

  void Commit(std::vector<std::string>& xml, const std::string& receipt) {
    for (auto& text : xml)
      out_.journalWrites.push_back(std::move(text));
    out_.receiptText += receipt;
  }

  ByteSpan data_;
  const LanguageTexts& texts_;
  ReportAnswer& out_;
  std::size_t position_ = 0;
};

}  // namespace

ReportAnswer ReadReportAnswer(ByteSpan answer, const LanguageTexts& texts) {
  ReportAnswer result;
  ReportReader reader(answer, texts, result);
  if (!reader.Lifecycle() || !reader.Text("tpId", 42) || !reader.Number("tpIdNo", 43, ": ") ||
      !reader.Number("seqNoReport", 47, ": \t"))
    return result;
  if (reader.TagIs(0xD2) && !reader.Number("seqNoTransactionFirst", 44, ": \t")) return result;
  if (reader.TagIs(0xD3) && !reader.Number("seqNoTransactionLast", 45, ": \t")) return result;
  if (reader.TagIs(0xCB) && !reader.Number("seqNoTransaction", 46, ": \t\t")) return result;
  while (reader.TagIn(0xE1, 0xE6))
    if (!reader.VatContainer()) return result;
  if (reader.TagIs(0xE7) && !reader.CountedContainer("containerThirdparty", 53, true))
    return result;
  if (reader.TagIs(0xE8) && !reader.CountedContainer("containerDeliverynote", 55, false))
    return result;
  if (reader.TagIs(0xE9) && !reader.CountedContainer("containerTraining", 56, true)) return result;
  if (!reader.AtEnd()) reader.Signature();
  return result;
}

Result<BookedMonths> ReadBookedMonths(ByteSpan answer) {
  if (answer.size() < 2 || answer[1] != 3 || answer.size() < 5)
    return MakeError(ErrorKind::kMalformed, "booked months: no first month", 0);
  const std::string first = HexCompact(answer.subspan(2, 3));
  BookedMonths months;
  // A card with nothing booked yet (not activated, or activated before it kept the month)
  // has no first month: 00 00 00 and no list is an empty answer, not a damaged one.
  const bool listEmpty = answer.size() < 7 || answer[6] == 0;
  if (first == "000000" && listEmpty) return months;
  if (std::sscanf(first.c_str(), "%4d%2d", &months.startYear, &months.startMonth) != 2 ||
      months.startMonth < 1 || months.startMonth > 12)
    return MakeError(ErrorKind::kMalformed, "booked months: first month is not a month", 2);
  if (answer.size() < 7) return months;  // no month booked yet
  const std::size_t length = answer[6];
  if (7 + length > answer.size())
    return MakeError(ErrorKind::kMalformed, "booked months: list ends early", 5);
  months.offsets.assign(answer.begin() + 7,
                        answer.begin() + 7 + static_cast<std::ptrdiff_t>(length));
  return months;
}

std::vector<std::string> MonthListLines(const BookedMonths& months) {
  std::vector<std::string> lines;
  for (Byte offset : months.offsets) {
    const int total = offset + months.startMonth;
    const int years = (total - 1) / 12;
    const int month = total - 12 * years;
    char line[40];
    std::snprintf(line, sizeof line, "+%3d | %02d/%04d", offset, month, months.startYear + years);
    lines.emplace_back(line);
  }
  return lines;
}

std::optional<std::pair<int, int>> SpanRange(int focusedIndex, int selectedCount,
                                             bool previousSelected) {
  int first = 0;
  int last = 0;
  if (focusedIndex < 1) {
    first = focusedIndex;
    last = selectedCount - 1;
  } else if (previousSelected) {
    first = focusedIndex - selectedCount + 1;
    last = focusedIndex;
  } else {
    first = focusedIndex;
    last = focusedIndex + selectedCount - 1;
  }
  if (first < 0 || last < 0 || selectedCount < 1) return {};
  return std::make_pair(first, last);
}

std::optional<Bytes> PackedMonthOfLine(const std::string& line) {
  int month = 0;
  int year = 0;
  if (line.size() < 14 || std::sscanf(line.c_str() + 7, "%2d/%4d", &month, &year) != 2 ||
      month < 1 || month > 12 || year < 0)
    return {};
  return Bytes{static_cast<Byte>((year / 1000 % 10) << 4 | (year / 100 % 10)),
               static_cast<Byte>((year / 10 % 10) << 4 | (year % 10)),
               static_cast<Byte>((month / 10) << 4 | (month % 10))};
}

}  // namespace kasse
