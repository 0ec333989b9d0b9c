// The card's status objects (GET DATA 01F1), algorithms (01F4) and booked months (01F2) as the
// card session and the month list read them.

#include <cstdint>

#include "card/card_status.h"
#include "fuzz/fuzz_input.h"
#include "protocol/card_answers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  const Byte language = input.TakeByte();
  const ByteSpan answer = input.Rest();
  const char* code = language % 3 == 0 ? "fr" : language % 3 == 1 ? "uk" : "de";
  if (auto state = ParseCardStatus(answer, code)) {
    if (VersionLevelOf(state->Version) > 2) fuzz::Violated("version level above 2");
    (void)LifeCycleWord(state->lifeCycleCode, code);
  }
  (void)ParseAlgorithms(answer);
  if (Result<BookedMonths> months = ReadBookedMonths(answer)) {
    for (const std::string& line : MonthListLines(*months)) {
      const Result<Bytes> packed = PackedMonthOfLine(line);
      if (packed && packed->size() != 3) fuzz::Violated("a packed month is three bytes");
    }
  }
  (void)PackedMonthOfLine(std::string(input.RestText()));
  return 0;
}
