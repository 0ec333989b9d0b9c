// The answer of a report command (daily closing, span, activation, deactivation) as the
// report parser decodes it into journal texts and receipt lines.

#include <cstdint>

#include "common/language_texts.h"
#include "fuzz/fuzz_input.h"
#include "protocol/card_answers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  LanguageTexts texts;
  texts.Load(IniFile::Parse("[English]\n"), "English");
  const ReportAnswer report = ReadReportAnswer(input.Rest(), texts);
  if (report.signature && report.signature->size() != 48) fuzz::Violated("signature of 48 bytes");
  for (const std::string& write : report.journalWrites) {
    // An element is journalled only when read whole; its text cannot outgrow the answer.
    if (write.size() > 16 * size + 4096) fuzz::Violated("journal text bounded by the answer");
  }
  (void)ReportAmountText(input.Rest());
  return 0;
}
