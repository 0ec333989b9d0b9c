// kasse: the register. Without --batch it opens the register window; with --batch FILE|- it
// runs the same register without windows. Both use the user's register home unless told
// otherwise, made from the shipped defaults at first start.

#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/batch_runner.h"
#include "common/amount.h"
#include "common/user_folders.h"
#include "register/register_home.h"
#include "ui/register_app.h"

namespace {

constexpr std::chrono::seconds kDefaultCardWait{10};

constexpr const char* kUsage =
    "Usage: kasse [--home DIR] [--card pcsc|sim] [--sim-version 1|2] [--sim-lifecycle 2|3]\n"
    "             [--sim-pin NNNNNN] [--card-state FILE] [--demo-sale] [--screenshot FILE.png]\n"
    "             [--mass N]\n"
    "       kasse --batch FILE|- [same card and home options] [--seed N] [--strict]\n"
    "             [--card-wait SECONDS]\n"
    "       kasse --help | --version\n"
    "Without --batch the register window opens (it needs a display).\n"
    "  --batch FILE|-    run the commands of FILE (UTF-8), or of standard input\n"
    "  --home DIR        register home (default: $XDG_DATA_HOME/kasse, else\n"
    "                    ~/.local/share/kasse); made and given the default files when new\n"
    "  --card pcsc|sim   pcsc-lite or the simulated card in this process (default sim)\n"
    "  --card-wait SECONDS  batch over pcsc-lite: wait this long for a card in a reader\n"
    "                    (default 10, 0: fail at once when there is none)\n"
    "  --sim-version, --sim-lifecycle, --sim-pin  the simulated card: version level,\n"
    "                    lifecycle at its first start (2 personalised, 3 activated), PIN\n"
    "                    (KASSE_SIM_PIN in the environment sets the PIN without showing\n"
    "                    it in the process list; --sim-pin wins over it)\n"
    "  --card-state FILE the simulated card's file (default: in the user's state folder,\n"
    "                    ~/.local/state/kasse/card-v2.state or card-v1.state)\n"
    "  --strict          batch: stop at the first failing command\n"
    "  --demo-sale       window: cash in one small signed sale once the window is up\n"
    "  --screenshot FILE window: save the main window as a PNG once it is up, then quit\n"
    "  --mass N          window: run N generated sales in the mass window with both\n"
    "                    monitors open, then quit\n"
    "Batch commands, one a line (# starts a comment, \"...\" keeps blanks together):\n"
    "  operator 1|2, operator-name 1|2 TEXT, select INDEX, select-name TEXT, qty TEXT, book,\n"
    "  special|product-add name= unit= p1=..p6= qty= [discount] [voucher] [agency] [delivery],\n"
    "  storno [LINE], rabatt P, aufschlag P, summe, kassieren, abbruch,\n"
    "  training|text|qrcode|verify|hash-on-card on|off, tax inclusive|exclusive,\n"
    "  rates R1..R6, language NAME, clock YYYY-MM-DD HH:MM, clock-mode gleich|synchron|statisch,\n"
    "  report daily signed|unsigned, report span MM/YYYY MM/YYYY, report months,\n"
    "  activate PIN, deactivate, status, mass N [MAXPOS [STORNO [MAXQTY [on|off]]]],\n"
    "  receipt, url, save-receipt FILE, products-load FILE, products-save FILE,\n"
    "  print-raw [FILE], print-pdf FILE, scan\n"
    "  (mass: N sales of 1 to MAXPOS positions (default 100), after one position in STORNO\n"
    "  a cancellation (300), quantities 1 to MAXQTY (5), the operators taking turns (on))\n"
    "Examples:\n"
    "  printf 'operator 1\\nselect 0\\nbook\\nsumme\\nkassieren\\nurl\\n' | kasse --batch -\n"
    "  echo 'mass 100 8 5 3 off' | kasse --batch - --home ~/kasse-probe --strict\n"
    "  echo 'report daily unsigned' | kasse --batch - --card pcsc --card-wait 10\n"
    "Exit: 0 every command succeeded, 1 a command failed, 2 usage, 3 card error.\n";

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') return true;
  return false;
}

int RunWindow(int argc, char** argv, const kasse::BatchOptions& batch, bool demoSale,
              const std::string& screenshot, int massRun) {
  if (!HasDisplay()) {
    std::cerr << "kasse: no display for the register window; use --batch FILE|-\n";
    return kasse::kBatchUsage;
  }
  QApplication application(argc, argv);
  kasse::WindowOptions options;
  options.reg.home = batch.home;
  options.defaults = batch.defaults;
  options.reg.card = batch.card;
  options.reg.seed = batch.seed;
  options.demoSale = demoSale;
  options.screenshot = screenshot;
  options.massRun = massRun;
  kasse::RegisterApp app(options);
  QObject::connect(&app, &kasse::RegisterApp::finished, &application, &QApplication::exit);
  app.Start();
  const int code = QApplication::exec();
  if (!app.Problem().isEmpty()) std::cerr << "kasse: " << app.Problem().toStdString() << "\n";
  // Closing the card error window also closes the last window, which would exit with 0.
  return app.EndedByCardError() ? kasse::kBatchCardError : code;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kasse;
  BatchOptions options;
  options.home = DefaultRegisterHome();
  options.defaults = ShippedDefaultsFolder();
  options.cardWait = kDefaultCardWait;
  std::string batch;
  std::string screenshot;
  bool demoSale = false;
  int massRun = 0;
  if (const char* pin = std::getenv("KASSE_SIM_PIN"); pin != nullptr && *pin != '\0') {
    const std::string text(pin);
    if (text.size() != 6 || text.find_first_not_of("0123456789") != std::string::npos) {
      std::cerr << "kasse: KASSE_SIM_PIN must be six digits\n";
      return kBatchUsage;
    }
    options.card.simPin = text;
  }
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    const bool hasValue = i + 1 < args.size();
    if (name == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (name == "--version") {
      std::cout << "kasse " KASSE_VERSION "\n";
      return 0;
    } else if (name == "--strict") {
      options.strict = true;
    } else if (name == "--demo-sale") {
      demoSale = true;
    } else if (!hasValue) {
      std::cerr << "kasse: unknown or incomplete option " << name << "\n" << kUsage;
      return kBatchUsage;
    } else {
      const std::string& value = args[++i];
      const Result<std::int64_t> parsed = ParseInteger(value);
      const bool isNumber = parsed.has_value();
      const std::int64_t number = isNumber ? *parsed : 0;
      if (name == "--batch")
        batch = value;
      else if (name == "--screenshot")
        screenshot = value;
      else if (name == "--mass" && isNumber && number > 0 && number <= 1000000)
        massRun = static_cast<int>(number);
      else if (name == "--home")
        options.home = value;
      else if (name == "--card" && (value == "sim" || value == "pcsc"))
        options.card.simulated = value == "sim";
      else if (name == "--sim-version" && isNumber && (number == 1 || number == 2))
        options.card.simVersion = static_cast<int>(number);
      else if (name == "--sim-lifecycle" && isNumber && (number == 2 || number == 3))
        options.card.simLifecycle =
            number == 2 ? sim::Lifecycle::kPersonalised : sim::Lifecycle::kActivated;
      else if (name == "--sim-pin" && value.size() == 6 && isNumber)
        options.card.simPin = value;
      else if (name == "--card-state" && !value.empty())
        options.card.stateFile = value;
      else if (name == "--card-wait" && isNumber && number >= 0 && number <= 3600)
        options.cardWait = std::chrono::seconds(number);
      else if (name == "--seed" && isNumber && number >= 0)
        options.seed = static_cast<unsigned>(number);
      else {
        std::cerr << "kasse: bad option " << name << " " << value << "\n" << kUsage;
        return kBatchUsage;
      }
    }
  }
  if (batch.empty()) return RunWindow(argc, argv, options, demoSale, screenshot, massRun);
  BatchRunner runner(options, std::cout, std::cerr);
  if (batch == "-") return runner.Run(std::cin);
  std::ifstream script(batch);
  if (!script) {
    std::cerr << "kasse: cannot read " << batch << "\n";
    return kBatchUsage;
  }
  return runner.Run(script);
}
