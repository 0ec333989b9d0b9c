// cfg/start.ini as the register reads it and writes it back.

#include <cstdint>

#include "common/cp1252.h"
#include "common/ini_file.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  const std::string_view section = input.TakeText();
  const std::string_view key = input.TakeText();
  // As IniFile::Load reads it: a file saved as UTF-8 is converted first.
  std::string text(input.RestText());
  const std::size_t before = text.size();
  if (ConvertUtf8FileText(text) && text.size() > before)
    fuzz::Violated("converting from UTF-8 never lengthens the text");
  const IniFile file = IniFile::Parse(text);
  (void)file.GetBool(section, key, true);
  (void)file.HasSection(section);
  const std::optional<std::string> value = file.Get(section, key);

  // What the register writes back must read back the same.
  const std::string written = file.Serialize();
  const IniFile again = IniFile::Parse(written);
  if (again.Serialize() != written) fuzz::Violated("a written file reads back the same");
  if (again.Get(section, key) != value) fuzz::Violated("a value survives writing");
  return 0;
}
