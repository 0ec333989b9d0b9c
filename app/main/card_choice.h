#pragma once
// The card kasse runs on, and where it finds the user's card when no --card names it. The
// simulated card is one device that one process holds at a time: when another process holds
// it (qor-sim, serving it on the vpcd reader of pcscd, as qor-sim.service does), the register
// reaches it through pcscd; otherwise the register holds it itself. The card's lock file tells
// which, never a process name: FILE.lock beside the card's state file is flocked by its holder,
// who writes its process id into it. The backend is built here, beside main, the one part of
// kasse that knows the simulator; the window and batch get it built.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/kasse_options.h"
#include "card/card_backend.h"
#include "common/result.h"

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

// The file of the simulated card: the one named, else the user's default card of the version.
std::filesystem::path SimStateFile(const CardOptions& card);

// The card's backend: pcsc-lite, or the simulated card inside this process in its file
// (SimStateFile); the card made new starts as the options say.
std::unique_ptr<CardBackend> MakeCardBackend(const CardOptions& card);

}  // namespace kasse
