#include "app/kasse_options.h"

#include <array>

#include "common/amount.h"
#include "common/command_line.h"

namespace kasse {
namespace {

constexpr std::chrono::seconds kDefaultCardWait{10};

constexpr std::array<OptionSpec, 15> kOptions{{
    {"help", false, 'h'},
    {"version", false},
    {"batch", true},
    {"home", true},
    {"card", true},
    {"card-wait", true},
    {"card-state", true},
    {"sim-version", true},
    {"sim-lifecycle", true},
    {"sim-pin", true},
    {"seed", true},
    {"strict", false},
    {"demo-sale", false},
    {"screenshot", true},
    {"mass", true},
}};

Result<std::int64_t> Number(const GivenOption& option, std::int64_t low, std::int64_t high,
                            std::string_view expected) {
  const Result<std::int64_t> number = ParseInteger(option.value);
  if (!number || *number < low || *number > high) return BadOptionValue(option, expected);
  return *number;
}

bool IsPin(const std::string& text) {
  return text.size() == 6 && text.find_first_not_of("0123456789") == std::string::npos;
}

Result<void> ApplyCardOption(const GivenOption& option, CardOptions& card) {
  const std::string_view name = option.name;
  if (name == "card") {
    if (option.value != "sim" && option.value != "pcsc")
      return BadOptionValue(option, "pcsc or sim");
    card.simulated = option.value == "sim";
  } else if (name == "card-state") {
    if (option.value.empty()) return BadOptionValue(option, "a file");
    card.stateFile = option.value;
  } else if (name == "sim-version") {
    auto level = Number(option, 1, 2, "1 or 2");
    if (!level) return level.error();
    card.simVersion = static_cast<int>(*level);
  } else if (name == "sim-lifecycle") {
    auto state = Number(option, 2, 3, "2 or 3");
    if (!state) return state.error();
    card.simPersonalised = *state == 2;
  } else if (name == "sim-pin") {
    if (!IsPin(option.value)) return BadOptionValue(option, "six digits");
    card.simPin = option.value;
  }
  return {};
}

Result<void> ApplyOption(const GivenOption& option, KasseOptions& options) {
  const std::string_view name = option.name;
  if (name == "batch") {
    if (option.value.empty()) return BadOptionValue(option, "a file or -");
    options.batchScript = option.value;
  } else if (name == "home") {
    if (option.value.empty()) return BadOptionValue(option, "a folder");
    options.batch.home = option.value;
  } else if (name == "card-wait") {
    auto seconds = Number(option, 0, 3600, "seconds, 0 to 3600");
    if (!seconds) return seconds.error();
    options.batch.cardWait = std::chrono::seconds(*seconds);
  } else if (name == "seed") {
    auto seed = Number(option, 0, 0xFFFF'FFFF, "a number from 0");
    if (!seed) return seed.error();
    options.batch.seed = static_cast<unsigned>(*seed);
  } else if (name == "strict") {
    options.batch.strict = true;
  } else if (name == "demo-sale") {
    options.demoSale = true;
  } else if (name == "screenshot") {
    if (option.value.empty()) return BadOptionValue(option, "a PNG file");
    options.screenshot = option.value;
  } else if (name == "mass") {
    auto sales = Number(option, 1, 1'000'000, "1 to 1000000 sales");
    if (!sales) return sales.error();
    options.massRun = static_cast<int>(*sales);
  } else {
    return ApplyCardOption(option, options.card);
  }
  return {};
}

}  // namespace

Result<KasseOptions> ParseKasseOptions(const std::vector<std::string>& args,
                                       const std::optional<std::string>& environmentPin) {
  Result<CommandLine> line = ParseCommandLine(args, kOptions);
  if (!line) return line.error();
  KasseOptions options;
  options.batch.cardWait = kDefaultCardWait;
  if (line->Has("help") || line->Has("version")) {
    options.action =
        line->Has("help") ? KasseOptions::Action::kHelp : KasseOptions::Action::kVersion;
    return options;
  }
  if (!line->operands.empty()) {
    return MakeError(ErrorKind::kUnusableInput,
                     "unexpected argument '" + line->operands.front() + "'");
  }
  if (environmentPin) {
    if (!IsPin(*environmentPin))
      return MakeError(ErrorKind::kUnusableInput, "KASSE_SIM_PIN must be six digits");
    options.card.simPin = *environmentPin;
  }
  for (const GivenOption& option : line->options) {
    if (Result<void> applied = ApplyOption(option, options); !applied) return applied.error();
    if (option.name == "card") options.cardNamed = true;
  }
  return options;
}

const char* KasseUsage() {
  return "Usage: kasse [OPTION]...\n"
         "  or:  kasse --batch FILE|- [OPTION]...\n"
         "The register window (it needs a display), or with --batch the same register without\n"
         "windows. Options take their value as --home DIR or --home=DIR; -- ends the options.\n"
         "\n"
         "Options:\n"
         "  --batch FILE|-    run the commands of FILE (UTF-8), or of standard input\n"
         "  --home DIR        register home (default: $XDG_DATA_HOME/kasse, else\n"
         "                    ~/.local/share/kasse); made and given the default files when new\n"
         "  --card pcsc|sim   pcsc-lite or the simulated card in this process (default: the\n"
         "                    user's card where it is: through pcsc-lite while another process\n"
         "                    such as qor-sim holds it, else in this process)\n"
         "  --card-wait SECONDS  batch over pcsc-lite: wait this long for a card in a reader\n"
         "                    (default 10, 0: fail at once when there is none)\n"
         "  --card-state FILE  the simulated card's file (default: in the user's state folder,\n"
         "                    ~/.local/state/kasse/card-v2.state or card-v1.state)\n"
         "  --sim-version 1|2  the simulated card's version level (default 2)\n"
         "  --sim-lifecycle 2|3  its lifecycle at its first start: 2 personalised, 3 activated\n"
         "                    (default 3)\n"
         "  --sim-pin NNNNNN  its PIN (KASSE_SIM_PIN in the environment sets it without showing\n"
         "                    it in the process list; --sim-pin wins over it)\n"
         "  --seed N          batch: the seed of the mass generator (default 1)\n"
         "  --strict          batch: stop at the first failing command\n"
         "  --demo-sale       window: cash in one small signed sale once the window is up\n"
         "  --screenshot FILE  window: save the main window as a PNG once it is up, then quit\n"
         "  --mass N          window: run N generated sales in the mass window with both\n"
         "                    monitors open, then quit\n"
         "  -h, --help        this text\n"
         "  --version         the version, its copyright and licence\n"
         "\n"
         "Batch commands, one a line (# starts a comment, quotes keep blanks together):\n"
         "  operator 1|2, operator-name 1|2 TEXT, select INDEX, select-name TEXT, qty TEXT, book,\n"
         "  special|product-add name= unit= p1=..p6= qty= [discount] [voucher] [agency] "
         "[delivery],\n"
         "  storno [LINE], rabatt P, aufschlag P, summe, kassieren, abbruch,\n"
         "  training|text|qrcode|verify|hash-on-card on|off, tax inclusive|exclusive,\n"
         "  rates R1..R6, language NAME, clock YYYY-MM-DD HH:MM, clock-mode "
         "gleich|synchron|statisch,\n"
         "  report daily signed|unsigned, report span MM/YYYY MM/YYYY, report months,\n"
         "  activate PIN, deactivate, status, mass N [MAXPOS [STORNO [MAXQTY [on|off]]]],\n"
         "  receipt, url, save-receipt FILE, products-load FILE, products-save FILE,\n"
         "  print-raw [FILE], print-pdf FILE, scan, export new|open FILE\n"
         "  (mass: N sales of 1 to MAXPOS positions (default 100), after one position in STORNO\n"
         "  a cancellation (300), quantities 1 to MAXQTY (5), the operators taking turns (on))\n"
         "  (export: the export pair FILE with S and L before its dot (tag.xml: tagS.xml and\n"
         "  tagL.xml) gets every record since the card started and the rest as the run goes on;\n"
         "  new refuses files that exist, open adds to them)\n"
         "Examples:\n"
         "  printf 'operator 1\\nselect 0\\nbook\\nsumme\\nkassieren\\nurl\\n' | kasse --batch -\n"
         "\n"
         "  echo 'mass 100 8 5 3 off' | kasse --batch - --home ~/kasse-probe --strict\n"
         "\n"
         "  echo 'report daily unsigned' | kasse --batch - --card pcsc --card-wait 10\n"
         "\n"
         "Exit: 0 every command succeeded, 1 a command failed, 2 usage, 3 card error.\n";
}

}  // namespace kasse
