#include "card/card_status.h"

#include <cstdint>

#include "common/hex_text.h"

namespace kasse {
namespace {

// Tag, one length byte, value. The tag is not compared: the objects come in fixed order.
class ObjectReader {
 public:
  explicit ObjectReader(ByteSpan data) : data_(data) {}

  std::optional<ByteSpan> Next() {
    if (data_.size() - position_ < 2) return std::nullopt;
    const std::size_t length = data_[position_ + 1];
    if (data_.size() - position_ - 2 < length) return std::nullopt;
    const ByteSpan value = data_.subspan(position_ + 2, length);
    position_ += 2 + length;
    return value;
  }
  std::optional<Byte> PeekTag() const {
    if (position_ >= data_.size()) return std::nullopt;
    return data_[position_];
  }
  bool Skip(std::size_t count) {
    if (data_.size() - position_ < count) return false;
    position_ += count;
    return true;
  }

 private:
  ByteSpan data_;
  std::size_t position_ = 0;
};

std::optional<std::string> UnsignedText(ByteSpan value) {
  if (value.size() > 8) return std::nullopt;
  std::uint64_t number = 0;
  for (Byte b : value)
    number = (number << 8) | b;
  return std::to_string(number);
}

// Year (4 digits) and month (2) as "MM/YYYY".
std::string MonthText(ByteSpan value) {
  const std::string digits = HexCompact(value);
  const std::string year = digits.substr(0, 4);
  const std::string month = digits.size() > 4 ? digits.substr(4, 2) : std::string();
  return month + "/" + year;
}

}  // namespace

std::string LifeCycleWord(std::string_view code, std::string_view languageCode) {
  static constexpr const char* kWords[3][5] = {
      {" - initialisiert", " - personalisiert", " - aktiviert", " - deaktiviert", " - undefiniert"},
      {" - initialized", " - personalized", " - activated", " - deactivated", " - undefined"},
      {" - initialis\xE9", " - personnalis\xE9", " - activ\xE9", " - deactiv\xE9",
       " - non d\xE9"
       "fini"},
  };
  const int language = languageCode == "uk" ? 1 : languageCode == "fr" ? 2 : 0;
  int index = 4;
  if (code == "01") index = 0;
  if (code == "02") index = 1;
  if (code == "03") index = 2;
  if (code == "04") index = 3;
  return kWords[language][index];
}

int VersionLevelOf(std::string_view version) {
  if (version.find("T.1.1") != std::string_view::npos) return 1;
  if (version.find("T.2") != std::string_view::npos) return 2;
  if (version.find("V.2") != std::string_view::npos) return 2;
  return 0;
}

std::optional<CardState> ParseCardStatus(ByteSpan data, std::string_view languageCode) {
  if (data.size() < 3) return std::nullopt;
  CardState state;
  state.lifeCycleCode = HexCompact(data.subspan(2, 1));
  state.LifeCycle = state.lifeCycleCode + LifeCycleWord(state.lifeCycleCode, languageCode);
  ObjectReader reader(data);
  if (!reader.Skip(3)) return std::nullopt;
  std::optional<ByteSpan> values[8];
  for (int i = 0; i < 5; ++i)
    values[i] = reader.Next();
  if (reader.PeekTag() == Byte{0xD5} && !reader.Next()) return std::nullopt;
  for (int i = 5; i < 8; ++i)
    values[i] = reader.Next();
  for (const auto& value : values)
    if (!value) return std::nullopt;
  state.Version = ToText(*values[0]);
  state.TpId = ToText(*values[1]);
  const auto tpIdNo = UnsignedText(*values[2]);
  const auto item6 = UnsignedText(*values[4]);
  const auto item8 = UnsignedText(*values[6]);
  const auto item9 = UnsignedText(*values[7]);
  if (!tpIdNo || !item6 || !item8 || !item9) return std::nullopt;
  state.TpIdNo = *tpIdNo;
  state.statusItems = {HexCompact(*values[3]), *item6, MonthText(*values[5]), *item8, *item9};
  state.VersionLevel = VersionLevelOf(state.Version);
  return state;
}

std::optional<std::string> ParseAlgorithms(ByteSpan data) {
  ObjectReader reader(data);
  std::string text;
  for (int i = 0; i < 3; ++i) {
    const auto value = reader.Next();
    if (!value) return std::nullopt;
    if (i > 0) text += ' ';
    text += HexCompact(*value);
  }
  return text;
}

}  // namespace kasse
