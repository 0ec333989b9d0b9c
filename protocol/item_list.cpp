#include "protocol/item_list.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "common/amount.h"
#include "common/hex_text.h"
#include "common/packed.h"
#include "journal/xml_text.h"
#include "protocol/protocol_messages.h"

namespace kasse {

namespace {

constexpr std::size_t kMaxQuantityText = 16;
constexpr std::size_t kMaxUnit = 8;

// Each byte as two upper-case digits followed by one blank, as the monitor shows hashed data.
// One pass into one buffer: a mass run's long item lists made this a sixth of the register's
// own work when it went byte by byte through small strings.
std::string MonitorHex(ByteSpan bytes) {
  std::string text = HexWritten(bytes);
  if (!text.empty()) text += ' ';
  return text;
}

ByteSpan Span(std::string_view text) {
  return ByteSpan(reinterpret_cast<const Byte*>(text.data()), text.size());
}

}  // namespace

Result<std::string> ItemQuantityText(std::string_view quantity) {
  if (quantity.empty()) return std::string("1");
  std::string text(quantity);
  std::replace(text.begin(), text.end(), ',', '.');
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  double value = 0;
  const auto [end, error] = std::from_chars(first, last, value, std::chars_format::fixed);
  if (error != std::errc() || end != last || !std::isfinite(value))
    return MakeError(ErrorKind::kMalformed, protocol_msg::kQuantityNotNumber);
  const double scaled = std::nearbyint(value * 1000000.0);
  if (!std::isfinite(scaled)) return MakeError(ErrorKind::kTooLong, protocol_msg::kQuantityTooLong);
  double rounded = scaled / 1000000.0;
  if (rounded == 0) rounded = 0;  // no "-0"
  char buffer[64];
  // Whole quantities (nearly all) take the cheap integer form, which reads the same.
  const bool whole = std::abs(rounded) < 1e7 && rounded == std::trunc(rounded);
  const auto written =
      whole
          ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(rounded))
          : std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::general, 15);
  std::string result(buffer, written.ptr);
  if (result.size() > kMaxQuantityText)
    return MakeError(ErrorKind::kTooLong, protocol_msg::kQuantityTooLong);
  return result;
}

ItemList::ItemList(FunctionMonitor& monitor, const LanguageTexts& texts)
    : monitor_(monitor), texts_(texts), text_("<itemList>") {}

void ItemList::AppendItemElement(Byte tag, ByteSpan value) {
  const std::size_t length = std::min<std::size_t>(value.size(), 255);
  bytes_.push_back(tag);
  bytes_.push_back(static_cast<Byte>(length));
  bytes_.insert(bytes_.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(length));
}

void ItemList::AppendText(std::string_view text) {
  text_ += text;
}

void ItemList::ResetItemList(VatContainers& containers, const std::array<double, 6>& rates) {
  bytes_.clear();
  containers.Reset(rates);
  text_ = "<itemList>";
}

int ItemList::EncodeItem(const ItemInput& item, VatContainers& containers, int versionLevel) {
  monitor_.MonitorWriteLine(texts_.LangText(39));
  monitor_.MonitorWriteLine("\t");
  text_ += "<item>";
  const Result<std::string> quantity = ItemQuantityText(item.quantity);
  if (!quantity) {
    text_ += "</item>";
    return quantity.error().kind == ErrorKind::kTooLong ? -1 : -2;
  }
  text_ += "<qnt>" + *quantity + "</qnt>";
  monitor_.MonitorWrite(texts_.LangText(20) + ": " + *quantity);
  AppendItemElement(0xA0, Span(*quantity));

  if (!item.unit.empty()) {
    const std::string unit = CleanIdentifier(item.unit).substr(0, kMaxUnit);
    text_ += "<unit>" + unit + "</unit>";
    monitor_.MonitorWrite(unit + "\t");
    AppendItemElement(0xA1, Span(unit));
  } else {
    monitor_.MonitorWrite(" ");
  }

  text_ += "<name>" + XmlEscape(item.name) + "</name>";
  const std::string name = CleanIdentifier(item.name);
  monitor_.MonitorWrite(name + "\t");
  AppendItemElement(0xA2, Span(name));

  const bool agency = !item.amounts[6].empty();
  if (item.isDiscount) {
    text_ += "<discountSurcharge />";
    monitor_.MonitorWrite("Rabatt\t");
    AppendItemElement(0xAA, {});
  }
  if (item.isVoucher) {
    text_ += "<voucher />";
    monitor_.MonitorWrite("Gutschein\t");
    AppendItemElement(0xAB, {});
  }
  if (agency && versionLevel >= 2) {
    text_ += "<thirdParty />";
    monitor_.MonitorWrite(
        "Agenturgesch\xE4"
        "ft\t");
    AppendItemElement(0xAC, {});
  }
  for (int c = 1; c <= 6; ++c) {
    const std::string& amountText = item.amounts[static_cast<std::size_t>(c - 1)];
    const Result<std::int64_t> parsed = ParseInteger(amountText);
    if (!parsed || *parsed == 0) continue;
    const std::int64_t cents = *parsed;
    const std::string index = std::to_string(c);
    text_ += "<price" + index + ">" + amountText + "</price" + index + ">";
    const Bytes packed = PackSignedAmount(cents);
    monitor_.MonitorWrite("E" + index + ": " + HexCompact(packed));
    AppendItemElement(static_cast<Byte>(0xB0 + c), packed);
    containers.BookAmount(c, amountText, item.exclusiveTax, agency, versionLevel);
  }
  for (int c = 7; c <= 8; ++c)
    containers.BookAmount(c, item.amounts[static_cast<std::size_t>(c - 1)], item.exclusiveTax,
                          agency, versionLevel);
  text_ += "</item>";
  return 0;
}

Sha1Digest ItemList::HashItemList(CardHasher* cardHasher) {
  monitor_.MonitorWriteLine("\t" + texts_.LangText(40) + ": " + MonitorHex(bytes_));
  std::optional<Sha1Digest> digest;
  if (cardHasher != nullptr) {
    digest = cardHasher->HashOnCard(bytes_);
    // The previous hash must never stand in for this sale's; hash here instead.
    if (!digest) monitor_.MonitorWriteLine("\tQOR hash failed: SHA-1 computed by the register");
  }
  hash_ = digest ? *digest : Sha1(bytes_);
  monitor_.MonitorWriteLine("\t" + texts_.LangText(41) + ": " + MonitorHex(hash_));
  return hash_;
}

}  // namespace kasse
