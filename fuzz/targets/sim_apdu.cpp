// The simulated card's APDU handler: a run of command APDUs, each in a vpcd-style frame.

#include <cstdint>

#include "fuzz/card_pool.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  sim::QorEngine& engine = fuzz::PooledCard(input.TakeByte());
  while (std::optional<ByteSpan> command = input.TakeFrame()) {
    const Bytes answer = engine.Process(*command);
    // Every answer ends in a status word; short APDUs answer at most 256 bytes of data.
    if (answer.size() < 2 || answer.size() > 258) fuzz::Violated("an answer is a response APDU");
    if (command->size() == 1 && (command->front() & 1)) engine.Reset();
  }
  return 0;
}
