// The lenient hexadecimal parser of card command texts (debug console, card monitor).

#include <cstdint>

#include "common/hex_text.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  const Bytes parsed = HexParse(input.RestText());
  // Every byte needs at least one character.
  if (parsed.size() > size) fuzz::Violated("no more bytes than characters");
  (void)StripBlanks(input.RestText());

  const ByteSpan bytes = input.Rest();
  if (HexParse(HexWritten(bytes)) != Bytes(bytes.begin(), bytes.end()))
    fuzz::Violated("the written form reads back");
  if (HexParse(HexCompact(bytes)) != Bytes(bytes.begin(), bytes.end()))
    fuzz::Violated("the compact form reads back");
  return 0;
}
