#pragma once
// Simulated cards for the fuzz targets. Making a card costs a key pair and a certificate, far
// more than one input's worth of work, so each configuration is made once and handed out
// again after a power cycle, its books carrying over from input to input like a real card's.
// A card is made anew every kRenewal inputs, so that one input that deactivates it does not
// leave every later input facing a card that refuses everything.

#include <cstddef>

#include "sim/qor_engine.h"

namespace kasse::fuzz {

inline constexpr std::size_t kRenewal = 512;

// The card for configuration `slot` (0 to 7): version 1 or 2, personalised or activated, with
// or without the debug hash, as the slot's bits say.
sim::QorEngine& PooledCard(unsigned slot);

}  // namespace kasse::fuzz
