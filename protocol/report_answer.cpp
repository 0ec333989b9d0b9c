#include <cstdio>

#include "common/card_tags.h"
#include "common/hex_text.h"
#include "common/language_texts.h"
#include "common/tlv_reader.h"
#include "journal/xml_text.h"
#include "protocol/card_answers.h"
#include "protocol/protocol_messages.h"

namespace kasse {
namespace {

std::string Xml(const std::string& name, const std::string& value) {
  return "<" + name + ">" + value + "</" + name + ">";
}

// Walks the answer element by element; every read is checked against the end.
class ReportReader {
 public:
  ReportReader(TlvReader reader, const LanguageTexts& texts, ReportAnswer& out)
      : tlv_(reader), texts_(texts), out_(out) {}

  bool AtEnd() const { return tlv_.AtEnd(); }
  bool TagIs(Byte tag) const { return tlv_.PeekTag() == tag; }
  bool TagIn(Byte first, Byte last) const {
    const auto tag = tlv_.PeekTag();
    return tag && *tag >= first && *tag <= last;
  }

  bool Fail(const char* what) {
    out_.problem =
        MakeError(ErrorKind::kMalformed, protocol_msg::kReportAnswerEnds, {what}, tlv_.Offset());
    return false;
  }

  bool Lifecycle() {
    // One byte, whatever the length byte says.
    auto lifecycle = tlv_.NextFixed(1);
    if (!lifecycle) return Fail("the lifecycle");
    const std::string hex = HexCompact(lifecycle->value);
    Emit("lifeCycle", hex, "\r\n" + texts_.LangText(57) + ": \t" + hex);
    return true;
  }

  bool Text(const char* name, int label) {
    auto element = tlv_.Next();
    if (!element) return Fail(name);
    const std::string text = ToText(element->value);
    Emit(name, XmlEscape(text), "\r\n" + texts_.LangText(label) + ": \t" + text);
    return true;
  }

  bool Number(const char* name, int label, const char* separator) {
    auto element = tlv_.Next();
    if (!element) return Fail(name);
    auto number = ReadCardInteger(element->value);
    if (!number) return Fail(name);
    const std::string text = std::to_string(*number);
    Emit(name, text, "\r\n" + texts_.LangText(label) + separator + text);
    return true;
  }

  // E1..E6: turnover, optional D9, rate, optional DD and DE.
  bool VatContainer() {
    auto outer = tlv_.Next();
    if (!outer) return Fail("a VAT container");
    const int c = tag::VatContainerNumber(outer->tag);
    const std::string what = "containerVat" + std::to_string(c);
    std::vector<std::string> xml{"<" + what + ">"};
    std::string receipt = "\r\nContainer" + std::to_string(c) + " :";
    ReportAnswer inner;
    ReportReader reader(TlvReader::Inside(*outer), texts_, inner);
    auto turnover = reader.tlv_.Next();
    if (!turnover) return Fail("a VAT container");
    Add(xml, receipt, "turnover", ReportAmountText(turnover->value), 48);
    if (reader.TagIs(tag::kTurnoverNeg)) {
      auto negative = reader.tlv_.Next();
      if (!negative) return Fail("a VAT container");
      Add(xml, receipt, "turnoverNeg", ReportAmountText(negative->value), 49);
    }
    auto rate = reader.tlv_.Next();
    if (!rate) return Fail("a VAT container");
    std::string digits = HexCompact(rate->value);
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
    auto outer = tlv_.Next();
    if (!outer) return Fail(name);
    std::vector<std::string> xml{std::string("<") + name + ">"};
    std::string receipt = "\r\n" + texts_.LangText(label) + " :";
    ReportAnswer inner;
    ReportReader reader(TlvReader::Inside(*outer), texts_, inner);
    auto turnover = reader.tlv_.Next();
    if (!turnover) return Fail(name);
    auto count = reader.tlv_.Next();
    if (!count) return Fail(name);
    auto number = ReadCardInteger(count->value);
    if (!number) return Fail(name);
    Add(xml, receipt, "turnover", ReportAmountText(turnover->value), 48);
    Add(xml, receipt, "cnt", std::to_string(*number), 54);
    if (mayOverflow) reader.Flags(xml, receipt, false);
    xml.push_back(std::string("</") + name + ">");
    Commit(xml, receipt);
    return true;
  }

  bool Signature() {
    // 48 bytes, whatever the length byte says.
    auto signature = tlv_.NextFixed(48);
    if (!signature) return Fail("the signature");
    out_.signature = Bytes(signature->value.begin(), signature->value.end());
    return true;
  }

 private:
  void Flags(std::vector<std::string>& xml, std::string& receipt, bool vatChange) {
    if (TagIs(tag::kOverflow) && tlv_.Next()) {
      xml.push_back("<overflow />");
      receipt += "\r\n\t" + texts_.LangText(51);
    }
    if (vatChange && TagIs(tag::kVatChange) && tlv_.Next()) {
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

  TlvReader tlv_;
  const LanguageTexts& texts_;
  ReportAnswer& out_;
};

}  // namespace

ReportAnswer ReadReportAnswer(ByteSpan answer, const LanguageTexts& texts) {
  ReportAnswer result;
  ReportReader reader(TlvReader(answer), texts, result);
  if (!reader.Lifecycle() || !reader.Text("tpId", 42) || !reader.Number("tpIdNo", 43, ": ") ||
      !reader.Number("seqNoReport", 47, ": \t"))
    return result;
  if (reader.TagIs(tag::kDayFirstTransaction) &&
      !reader.Number("seqNoTransactionFirst", 44, ": \t"))
    return result;
  if (reader.TagIs(tag::kDayLastTransaction) && !reader.Number("seqNoTransactionLast", 45, ": \t"))
    return result;
  if (reader.TagIs(tag::kTransactionSeq) && !reader.Number("seqNoTransaction", 46, ": \t\t"))
    return result;
  while (reader.TagIn(tag::kVatContainerFirst, tag::kVatContainerLast))
    if (!reader.VatContainer()) return result;
  if (reader.TagIs(tag::kThirdPartyContainer) &&
      !reader.CountedContainer("containerThirdparty", 53, true))
    return result;
  if (reader.TagIs(tag::kDeliveryNoteContainer) &&
      !reader.CountedContainer("containerDeliverynote", 55, false))
    return result;
  if (reader.TagIs(tag::kTrainingContainer) &&
      !reader.CountedContainer("containerTraining", 56, true))
    return result;
  if (!reader.AtEnd()) reader.Signature();
  return result;
}

Result<BookedMonths> ReadBookedMonths(ByteSpan answer) {
  TlvReader reader(answer);
  auto firstMonth = reader.Next();
  if (!firstMonth || firstMonth->value.size() != 3)
    return MakeError(ErrorKind::kMalformed, protocol_msg::kNoFirstMonth, {}, 0);
  const std::string first = HexCompact(firstMonth->value);
  auto list = reader.Next();
  const bool noList = !list && reader.Fault() == TlvFault::kHeaderCut;
  BookedMonths months;
  // A card with nothing booked yet (not activated, or activated before it kept the month)
  // has no first month: 00 00 00 and no list is an empty answer, not a damaged one.
  const bool listEmpty = noList || (list && list->value.empty());
  if (first == "000000" && listEmpty) return months;
  if (std::sscanf(first.c_str(), "%4d%2d", &months.startYear, &months.startMonth) != 2 ||
      months.startMonth < 1 || months.startMonth > 12)
    return MakeError(ErrorKind::kMalformed, protocol_msg::kFirstMonthNotMonth, {}, 2);
  if (noList) return months;  // no month booked yet
  if (!list)
    return MakeError(ErrorKind::kMalformed, protocol_msg::kMonthListEnds, {}, list.error().offset);
  months.offsets.assign(list->value.begin(), list->value.end());
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

Result<Bytes> PackedMonthOfLine(const std::string& line) {
  int month = 0;
  int year = 0;
  if (line.size() < 14 || std::sscanf(line.c_str() + 7, "%2d/%4d", &month, &year) != 2 ||
      month < 1 || month > 12 || year < 0)
    return MakeError(ErrorKind::kMalformed, "not a line of the month list");
  return Bytes{static_cast<Byte>((year / 1000 % 10) << 4 | (year / 100 % 10)),
               static_cast<Byte>((year / 10 % 10) << 4 | (year % 10)),
               static_cast<Byte>((month / 10) << 4 | (month % 10))};
}

std::optional<ReportNumber> ReadReportNumber(ByteSpan answer) {
  ReportNumber read;
  bool found = false, signature = false;
  for (TlvReader reader(answer); !reader.AtEnd();) {
    const auto element = reader.Next();
    if (!element) break;
    if (element->tag == tag::kSignature) signature = true;
    if (element->tag == tag::kTpId) read.tpId = ToText(element->value);
    if (element->tag == tag::kTpIdNo)
      if (auto value = ReadCardInteger(element->value)) read.tpIdNo = *value;
    if (element->tag == tag::kReportSeq) {
      const auto value = ReadCardInteger(element->value);
      if (!value) return std::nullopt;
      read.number = *value;
      found = true;
    }
  }
  if (!found || !signature) return std::nullopt;
  return read;
}

}  // namespace kasse
