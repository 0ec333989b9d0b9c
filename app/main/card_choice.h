#pragma once
// Where kasse finds the user's card when no --card names it. The simulated card is one device
// that one process holds at a time: when another process holds it (qor-sim, serving it on the
// vpcd reader of pcscd, as qor-sim.service does), the register reaches it through pcscd;
// otherwise the register holds it itself. The card's lock file tells which, never a process
// name: FILE.lock beside the card's state file is flocked by its holder, who writes its
// process id into it.

#include <filesystem>
#include <optional>
#include <string>

#include "common/result.h"
#include "register/card_stack.h"

namespace kasse {

struct CardChoice {
  CardOptions card;
  // How the card was found, for standard error and the window's status bar (a message with
  // its number, so the window says it in the operator's language); nothing when --card named
  // the card.
  std::optional<Error> note;
};

// The process id written in the lock of the card whose state file is `stateFile`, while a
// process holds it; nothing when none does. A lock that cannot be looked at counts as free:
// the register's own try to hold the card then says what is wrong.
std::optional<std::string> CardLockHolder(const std::filesystem::path& stateFile);

// `card` as the command line gave it; `named`: --card was given, and it is kept as it is.
CardChoice ChooseCard(CardOptions card, bool named);

}  // namespace kasse
