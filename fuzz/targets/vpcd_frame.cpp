// The qor-sim daemon's side of the vpcd link: frames from the reader driver (control codes
// and command APDUs), with the fault injection switched on by the first bytes.

#include <cstdint>

#include "fuzz/card_pool.h"
#include "fuzz/fuzz_input.h"
#include "sim/vpcd_card.h"

namespace {

kasse::sim::Faults FaultsOf(kasse::fuzz::FuzzInput& input) {
  kasse::sim::Faults faults;
  const kasse::Byte switches = input.TakeByte();
  if (switches & 1) faults.failAfter = input.TakeByte();
  if (switches & 2) {
    faults.statusWordIns = input.TakeByte();
    faults.statusWord = static_cast<std::uint16_t>(input.TakeByte() << 8 | input.TakeByte());
  }
  faults.truncate = (switches & 4) != 0;
  if (switches & 8) faults.resetEvery = input.TakeByte();
  return faults;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  const sim::Faults faults = FaultsOf(input);
  sim::VpcdCard card(fuzz::PooledCard(0), faults);
  while (std::optional<ByteSpan> frame = input.TakeFrame()) {
    const sim::FrameOutcome outcome = card.Handle(*frame);
    // The reply goes out behind a 2-byte length.
    if (outcome.reply && outcome.reply->size() > 0xFFFF) fuzz::Violated("a reply fits a frame");
    if (outcome.dropConnection) break;
  }
  return 0;
}
