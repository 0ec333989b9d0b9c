#include "ui/register_app.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <iostream>

#include "common/cp1252.h"
#include "common/user_folders.h"
#include "register/language.h"
#include "register/messages.h"
#include "register/register_home.h"
#include "ui/captions.h"
#include "ui/card_monitor_window.h"
#include "ui/function_monitor_window.h"
#include "ui/main_window.h"
#include "ui/mass_window.h"
#include "ui/splash_window.h"

namespace kasse {

namespace {

// Long enough for the first paint of the window and its QR code.
constexpr int kSettleMs = 600;

// The register's icon in the sizes a desktop asks for, from share/icons beside the program (in
// the build tree as in an installed copy), so every window shows it wherever the copy lies.
QIcon RegisterIcon() {
  const std::filesystem::path icons = ShippedDefaultsFolder().parent_path() / "icons" / "hicolor";
  QIcon icon;
  for (const char* size : {"48x48", "128x128", "256x256"})
    icon.addFile(QString::fromStdString((icons / size / "apps" / "kasse.png").string()));
  return icon;
}

}  // namespace

RegisterApp::RegisterApp(WindowOptions options) : options_(std::move(options)) {}

RegisterApp::~RegisterApp() {
  // The windows hold the register: they go first.
  window_.reset();
  splash_.reset();
}

void RegisterApp::Start() {
  QGuiApplication::setApplicationDisplayName(QStringLiteral("ZUDiDodir"));
  QGuiApplication::setDesktopFileName(QStringLiteral("kasse"));
  QGuiApplication::setWindowIcon(RegisterIcon());
  if (!options_.defaults.empty()) {
    if (Result<void> seeded = SeedRegisterHome(options_.reg.home, options_.defaults); !seeded) {
      // Without its home the register cannot start: say why, then end the run.
      problem_ = FromCore(seeded.error().English());
      // A run that takes a picture or a mass run ends by itself: no one to close the box.
      if (options_.screenshot.empty() && options_.massRun == 0)
        QMessageBox::critical(nullptr, QStringLiteral("kasse"), problem_);
      QTimer::singleShot(0, this, [this] { emit finished(1); });
      return;
    }
  }
  splash_ = std::make_unique<SplashWindow>();
  // Each window run generates other mass sales; batch keeps its seed for repeatable runs.
  options_.reg.seed =
      static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
  // The splash stays while the card settles, as after a card put into a reader.
  options_.reg.checkAfterDebounce = true;
  register_ = std::make_unique<Register>(options_.reg, options_.card());
  // Before the configuration is read the splash speaks the design language.
  Language design(options_.reg.home);
  (void)design.ApplyLanguage("Deutsch");
  splash_->Relabel(design);
  splash_->show();
  QApplication::processEvents();

  window_ = std::make_unique<MainWindow>(*register_);
  window_->SetStartFacts(
      AboutFacts{options_.version, options_.reg.home,
                 options_.reg.stateFolder.empty() ? UserStateFolder() : options_.reg.stateFolder},
      options_.cardNote);
  connect(window_.get(), &MainWindow::endRegister, this, [this] {
    endedByCard_ = true;
    emit finished(3);
  });
  cardEvents_ = new QTimer(this);
  connect(cardEvents_, &QTimer::timeout, this, [this] {
    register_->ProcessCardEvents();
    if (!startPending_) return;
    if (register_->Card().Failed())
      FinishStart(FromCore(register_->Card().Failure() ? register_->Card().Failure()->English()
                                                       : std::string()));
    else if (register_->Card().Checked())
      FinishStart({});
  });

  const Result<void> started = register_->Start();
  for (const Error& warning : register_->Warnings())
    std::cerr << "kasse: warning: " << Cp1252ToUtf8(warning.English()) << "\n";
  window_->Started();
  startPending_ = true;
  cardEvents_->start(kCardEventMs);
  if (!started)
    FinishStart(FromCore(started.error().English()));
  else if (register_->Card().Checked())
    FinishStart({});
}

void RegisterApp::FinishStart(const QString& problem) {
  startPending_ = false;
  splash_->Finish();
  splash_->Relabel(register_->Texts());
  if (!problem.isEmpty()) {
    problem_ = problem;
    window_->ShowCardError();
    return;
  }
  window_->show();
  emit ready();
  AfterStart();
}

void RegisterApp::AfterStart() {
  if (options_.massRun > 0) {
    QTimer::singleShot(0, this, &RegisterApp::MassRun);
    return;
  }
  if (options_.demoSale) QTimer::singleShot(kSettleMs / 2, this, &RegisterApp::DemoSale);
  if (!options_.screenshot.empty())
    QTimer::singleShot(kSettleMs + (options_.demoSale ? kSettleMs : 0), this,
                       &RegisterApp::TakeScreenshot);
}

void RegisterApp::DemoSale() {
  Register& reg = *register_;
  const std::size_t count = reg.Products().Products().size();
  Result<void> outcome;
  for (std::size_t index : {std::size_t{0}, std::size_t{3}, std::size_t{5}})
    if (outcome && index < count) outcome = reg.BookProduct(index, index == 3 ? "2" : "");
  if (outcome) outcome = reg.Percentage(PercentSign::kDiscount, "5");
  if (outcome) outcome = reg.Summe();
  if (outcome) outcome = reg.Kassieren();
  if (!outcome) problem_ = FromCore(outcome.error().English());
  window_->Refresh();
}

void RegisterApp::MassRun() {
  const ToolWindows& tools = window_->Tools();
  tools.cardMonitor->ShowMonitor(true);
  tools.functionMonitor->show();
  tools.mass->show();
  tools.mass->SetTransactions(options_.massRun);
  tools.mass->StartRun();  // returns when the run is over
  if (tools.mass->Completed() != options_.massRun)
    problem_ = FromCore(
        MakeError(ErrorKind::kUnusableInput, msg::kMassRunEnded,
                  {std::to_string(tools.mass->Completed()), std::to_string(options_.massRun)})
            .English());
  emit finished(problem_.isEmpty() ? 0 : 1);
}

void RegisterApp::TakeScreenshot() {
  window_->Refresh();
  QApplication::processEvents();
  const QPixmap picture = window_->grab();
  const QString file = QString::fromStdString(options_.screenshot.string());
  if (!picture.save(file, "PNG")) problem_ = QStringLiteral("cannot write ") + file;
  emit finished(problem_.isEmpty() ? 0 : 1);
}

}  // namespace kasse
