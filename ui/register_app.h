#pragma once
// The window start-up of the register: the splash, the register and its card check, the main
// window with its tool windows, and the timer that hands the card reader's events to the
// register. One object for the whole run of `kasse` in window mode.

#include <QObject>
#include <QString>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "register/register.h"

class QTimer;

namespace kasse {

class MainWindow;
class SplashWindow;

struct WindowOptions {
  RegisterOptions reg;
  // Builds the card backend the register runs on (must be set): the program's main chose it.
  CardBackendMaker card;
  // Where a home that lacks them gets its default files from; empty: the home is used as it is.
  std::filesystem::path defaults;
  // Cash in one small signed sale once the window is up (for demonstrations).
  bool demoSale = false;
  // Grab the main window into this PNG file once it is up, then quit.
  std::filesystem::path screenshot;
  // Run this many generated sales in the mass window with both monitors open, then quit.
  int massRun = 0;
  // Where the card was found when no --card named it (card_choice.h); Help > About's version.
  std::optional<Error> cardNote;
  std::string version;
};

class RegisterApp : public QObject {
  Q_OBJECT

 public:
  static constexpr int kCardEventMs = 50;

  explicit RegisterApp(WindowOptions options);
  ~RegisterApp() override;

  // Shows the splash, starts the register and scans for its card; half a second later, at the
  // end of the insertion debounce, the start-up check runs, the splash goes and the main window
  // shows (ready()), or the card error window, whose closing ends the run.
  void Start();

  Register& Reg() { return *register_; }
  MainWindow* Window() const { return window_.get(); }
  SplashWindow* Splash() const { return splash_.get(); }
  // What a screenshot or demo step reported: empty when all went well.
  const QString& Problem() const { return problem_; }
  // The card error window ended the run.
  bool EndedByCardError() const { return endedByCard_; }

 signals:
  // The run is over: the card error window was closed, or the screenshot was taken.
  void finished(int exitCode);
  // The start-up check passed: the splash is gone and the main window shown.
  void ready();

 private:
  // Once the card check has passed (no problem) or failed: the main window or the card error
  // window.
  void FinishStart(const QString& problem);
  void AfterStart();
  void DemoSale();
  void TakeScreenshot();
  void MassRun();

  WindowOptions options_;
  std::unique_ptr<SplashWindow> splash_;
  std::unique_ptr<Register> register_;
  std::unique_ptr<MainWindow> window_;
  QTimer* cardEvents_ = nullptr;
  QString problem_;
  bool endedByCard_ = false;
  bool startPending_ = false;
};

}  // namespace kasse
