#pragma once
// The command line of `kasse`: the window's and batch's options, read with the programs' one
// option reader (common/command_line.h), and the text of `kasse --help`.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/batch_runner.h"
#include "common/result.h"

namespace kasse {

// The card as the command line names it (--card, --card-state and the simulated card's
// --sim-version, --sim-lifecycle, --sim-pin); main/card_choice.h builds it.
struct CardOptions {
  bool simulated = true;  // false: pcsc-lite
  int simVersion = 2;
  // A new simulated card starts personalised (--sim-lifecycle 2), waiting for its transport
  // PIN, instead of activated.
  bool simPersonalised = false;
  std::string simPin = "123456";
  // The simulated card's file; empty: DefaultCardStateFile(simVersion), one card per version
  // level, so that switching versions never reads a card of the other kind.
  std::filesystem::path stateFile;
};

struct KasseOptions {
  enum class Action { kRun, kHelp, kVersion };
  Action action = Action::kRun;
  // Home, seed, strictness and card wait; an empty home is the user's default one. The card
  // backend is built by main from `card`.
  BatchOptions batch;
  CardOptions card;
  // --card was given; without it the card is taken where it is (ChooseCard, card_choice.h),
  // and cardNote says where that was.
  bool cardNamed = false;
  std::optional<Error> cardNote;
  std::string batchScript;  // FILE or "-"; empty: the window opens
  std::string screenshot;
  bool demoSale = false;
  int massRun = 0;
};

// `args` without the program name; `environmentPin` is KASSE_SIM_PIN, used unless --sim-pin is
// given. A usage error says what is wrong in a few words (see UsageLine).
Result<KasseOptions> ParseKasseOptions(const std::vector<std::string>& args,
                                       const std::optional<std::string>& environmentPin = {});

// What `kasse --help` prints.
const char* KasseUsage();

}  // namespace kasse
