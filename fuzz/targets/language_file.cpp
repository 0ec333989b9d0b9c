// cfg/lang.ini: the numbered texts, captions and hints of one language.

#include <cstdint>

#include "common/language_texts.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  const std::string language(input.TakeText());
  LanguageTexts texts;
  texts.Load(IniFile::Parse(input.RestText()), language);
  std::size_t total = 0;
  for (int number = -1; number <= LanguageTexts::kTextCount + 1; ++number)
    total += texts.LangText(number).size();
  for (int tag : {0, 1, 113, 150, -7, 100000})
    total += texts.Caption(tag).size() + texts.Hint(tag).size();
  if (total > 64 * (size + 1)) fuzz::Violated("texts come from the file");
  return 0;
}
