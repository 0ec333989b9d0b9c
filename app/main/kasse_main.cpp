// kasse: the register. Without --batch it opens the register window; with --batch FILE|- it
// runs the same register without windows. Both use the user's register home unless told
// otherwise, made from the shipped defaults at first start.

#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/batch_runner.h"
#include "app/kasse_options.h"
#include "app/main/card_choice.h"
#include "common/command_line.h"
#include "common/user_folders.h"
#include "register/register_config.h"
#include "register/register_home.h"
#include "ui/register_app.h"

namespace {

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') return true;
  return false;
}

int RunWindow(int argc, char** argv, const kasse::KasseOptions& given) {
  const kasse::BatchOptions& batch = given.batch;
  if (!HasDisplay()) {
    std::cerr << "kasse: no display for the register window; use --batch FILE|-\n";
    return kasse::kBatchUsage;
  }
  QApplication application(argc, argv);
  kasse::WindowOptions options;
  options.reg.home = batch.home;
  options.defaults = batch.defaults;
  options.card = batch.card;
  options.reg.seed = batch.seed;
  options.reg.newHomeLanguage = batch.newHomeLanguage;
  options.cardNote = given.cardNote;
  options.version = KASSE_VERSION;
  options.demoSale = given.demoSale;
  options.screenshot = given.screenshot;
  options.massRun = given.massRun;
  kasse::RegisterApp app(options);
  QObject::connect(&app, &kasse::RegisterApp::finished, &application, &QApplication::exit);
  app.Start();
  const int code = QApplication::exec();
  // A card that failed is easier to understand knowing where it was looked for.
  if (app.EndedByCardError() && given.cardNote)
    std::cerr << "kasse: " << given.cardNote->English() << "\n";
  if (!app.Problem().isEmpty()) std::cerr << "kasse: " << app.Problem().toStdString() << "\n";
  // Closing the card error window also closes the last window, which would exit with 0.
  return app.EndedByCardError() ? kasse::kBatchCardError : code;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kasse;
  const char* pin = std::getenv("KASSE_SIM_PIN");
  Result<KasseOptions> parsed = ParseKasseOptions(
      std::vector<std::string>(argv + 1, argv + argc),
      pin != nullptr && *pin != '\0' ? std::optional<std::string>(pin) : std::nullopt);
  if (!parsed) {
    std::cerr << UsageLine("kasse", parsed.error().English());
    return kBatchUsage;
  }
  KasseOptions& options = *parsed;
  if (options.action == KasseOptions::Action::kHelp) {
    std::cout << KasseUsage();
    return 0;
  }
  if (options.action == KasseOptions::Action::kVersion) {
    std::cout << VersionText("kasse", KASSE_VERSION);
    return 0;
  }
  if (options.batch.home.empty()) options.batch.home = DefaultRegisterHome();
  options.batch.defaults = ShippedDefaultsFolder();
  options.batch.newHomeLanguage = RegisterConfig::LanguageOfLocale();
  CardChoice choice = ChooseCard(options.card, options.cardNamed);
  options.card = std::move(choice.card);
  options.cardNote = std::move(choice.note);
  options.batch.card = [card = options.card] { return MakeCardBackend(card); };
  if (options.batchScript.empty()) return RunWindow(argc, argv, options);
  // The message's own words are ASCII; the path in it is the system's, as it is.
  if (options.cardNote) std::cerr << "kasse: " << options.cardNote->English() << "\n";
  BatchRunner runner(options.batch, std::cout, std::cerr);
  if (options.batchScript == "-") return runner.Run(std::cin);
  std::ifstream script(options.batchScript);
  if (!script) {
    std::cerr << "kasse: cannot read " << options.batchScript << "\n";
    return kBatchUsage;
  }
  return runner.Run(script);
}
