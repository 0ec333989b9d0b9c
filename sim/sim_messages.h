#pragma once
// The messages of the simulated card that reach the register's operator.

#include "common/message_id.h"

namespace kasse::sim_msg {

inline constexpr MessageId kCardInUse{165, "the card is in use by process %1"};

inline constexpr const MessageId* kAll[] = {&kCardInUse};

}  // namespace kasse::sim_msg
