#pragma once
// The command line of `kasse`: the window's and batch's options, read with the programs' one
// option reader (common/command_line.h), and the text of `kasse --help`.

#include <optional>
#include <string>
#include <vector>

#include "app/batch_runner.h"
#include "common/result.h"

namespace kasse {

struct KasseOptions {
  enum class Action { kRun, kHelp, kVersion };
  Action action = Action::kRun;
  // Home, card, seed, strictness and card wait; an empty home is the user's default one.
  BatchOptions batch;
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
