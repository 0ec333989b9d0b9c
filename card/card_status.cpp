#include "card/card_status.h"

#include <cstdint>

#include "common/card_tags.h"
#include "common/hex_text.h"
#include "common/tlv_reader.h"

namespace kasse {
namespace {

// The objects come in fixed order: their tags are not compared.
Error StatusEnds(std::size_t offset) {
  return MakeError(ErrorKind::kMalformed, "card status ends inside an object", offset);
}

Result<ByteSpan> NextValue(TlvReader& reader) {
  const Result<TlvElement> element = reader.Next();
  if (!element) return StatusEnds(reader.Offset());
  return element->value;
}

Result<std::string> UnsignedText(ByteSpan value, std::size_t offset) {
  if (value.size() > 8)
    return MakeError(ErrorKind::kTooLong, "card status number longer than 8 bytes", offset);
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

Result<CardState> ParseCardStatus(ByteSpan data, std::string_view languageCode) {
  if (data.size() < 3) return StatusEnds(0);
  CardState state;
  state.lifeCycleCode = HexCompact(data.subspan(2, 1));
  state.LifeCycle = state.lifeCycleCode + LifeCycleWord(state.lifeCycleCode, languageCode);
  TlvReader reader(data.subspan(3), 3);
  ByteSpan values[8];
  std::size_t offsets[8] = {};
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == 5 && reader.PeekTag() == tag::kPinTries) {
      if (Result<ByteSpan> skipped = NextValue(reader); !skipped) return skipped.error();
    }
    offsets[i] = reader.Offset();
    Result<ByteSpan> value = NextValue(reader);
    if (!value) return value.error();
    values[i] = *value;
  }
  state.Version = ToText(values[0]);
  state.TpId = ToText(values[1]);
  const Result<std::string> tpIdNo = UnsignedText(values[2], offsets[2]);
  const Result<std::string> item6 = UnsignedText(values[4], offsets[4]);
  const Result<std::string> item8 = UnsignedText(values[6], offsets[6]);
  const Result<std::string> item9 = UnsignedText(values[7], offsets[7]);
  for (const Result<std::string>* number : {&tpIdNo, &item6, &item8, &item9})
    if (!*number) return number->error();
  state.TpIdNo = *tpIdNo;
  state.statusItems = {HexCompact(values[3]), *item6, MonthText(values[5]), *item8, *item9};
  state.VersionLevel = VersionLevelOf(state.Version);
  return state;
}

Result<std::string> ParseAlgorithms(ByteSpan data) {
  TlvReader reader(data);
  std::string text;
  for (int i = 0; i < 3; ++i) {
    const Result<ByteSpan> value = NextValue(reader);
    if (!value) return value.error();
    if (i > 0) text += ' ';
    text += HexCompact(*value);
  }
  return text;
}

std::vector<std::string> StatusValues(const CardState& state) {
  std::vector<std::string> values = {state.LifeCycle, state.Version, state.TpId, state.TpIdNo};
  values.insert(values.end(), state.statusItems.begin(), state.statusItems.end());
  if (state.VersionLevel > 1) {
    values.push_back(state.HashLength);
    values.push_back(state.Algorithms);
  }
  return values;
}

}  // namespace kasse
