#pragma once
// Batch over pcsc-lite may start before pcscd has seen the card (a script that starts qor-sim
// and the register one after the other): it waits a while for a card in any reader before the
// register's one card check, which would otherwise fail at once. The window keeps failing at
// once, as its card error window expects.

#include <chrono>
#include <functional>

#include "card/pcsc_api.h"

namespace kasse {

// True as soon as a reader of `pcsc` holds a card, false when `limit` passes first. Readers and
// the service itself may appear while it waits. `waiting` is called once, when the first look
// found no card.
bool WaitForCardInReader(PcscApi& pcsc, std::chrono::milliseconds limit,
                         const std::function<void()>& waiting);

}  // namespace kasse
