// The window's first minute: the splash and the start-up check after the debounce, the status
// bar's card and verification page, and Help > About.

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <vector>

#include "common/files.h"
#include "common/user_folders.h"
#include "register/language.h"
#include "register/messages.h"
#include "register/tests/sim_card.h"
#include "ui/about_box.h"
#include "ui/card_error_window.h"
#include "ui/register_app.h"
#include "ui/splash_window.h"
#include "ui/status_line.h"
#include "ui/tests/main_window_fixture.h"
#include "ui/transport_pin_dialog.h"

namespace kasse {
namespace {

using testing::Till;

struct GaugeStep {
  int value;
  qint64 at;  // ms since the splash was made
};

TEST(SplashWindow, TheGaugeRisesByTwentyEveryTenthOfASecondToFull) {
  testing::EnsureApp();
  QElapsedTimer since;
  since.start();
  SplashWindow splash;
  std::vector<GaugeStep> steps;
  QObject::connect(splash.findChild<QProgressBar*>(QStringLiteral("InitBar")),
                   &QProgressBar::valueChanged, [&](int value) {
                     steps.push_back({value, since.elapsed()});
                   });
  EXPECT_EQ(splash.Progress(), 20);
  splash.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return splash.Progress() == 100; }, 5000));
  ASSERT_FALSE(steps.empty());
  int last = 20;
  for (const GaugeStep& step : steps) {
    EXPECT_EQ(step.value % 20, 0);
    EXPECT_GT(step.value, last);
    // Never ahead of the clock: 40 not before 100 ms, 100 not before 400 ms.
    EXPECT_GE(step.at, (step.value - 20) / 20 * 100) << step.value;
    last = step.value;
  }
  EXPECT_EQ(last, 100);
}

TEST(SplashWindow, FinishingShowsTheTimePassedAndHides) {
  testing::EnsureApp();
  SplashWindow splash;
  splash.show();
  QTest::qSleep(250);  // the event loop is busy elsewhere: no tick comes
  EXPECT_EQ(splash.Progress(), 20);
  splash.Finish();
  EXPECT_FALSE(splash.isVisible());
  EXPECT_GE(splash.Progress(), 60);
}

TEST(RegisterApp, TheCheckRunsHalfASecondAfterTheScanWhileTheSplashFills) {
  testing::EnsureApp();
  WindowOptions options;
  options.reg.home = testing::FreshHome();
  options.card = [] { return testing::UserSimCard(); };
  RegisterApp app(options);
  QSignalSpy ready(&app, &RegisterApp::ready);
  QElapsedTimer since;
  since.start();
  app.Start();
  // Scanned, the splash filling, the check still to come.
  EXPECT_TRUE(app.Splash()->isVisible());
  EXPECT_LE(app.Splash()->Progress(), 20 + 20 * static_cast<int>(since.elapsed() / 100));
  EXPECT_FALSE(app.Reg().Card().Checked());
  EXPECT_FALSE(app.Window()->isVisible());
  ASSERT_TRUE(ready.wait(10000));
  EXPECT_GE(since.elapsed(), 500);
  EXPECT_TRUE(app.Reg().Card().Checked());
  EXPECT_FALSE(app.Splash()->isVisible());
  EXPECT_EQ(app.Splash()->Progress(), 100);
  EXPECT_TRUE(app.Window()->isVisible());
  EXPECT_EQ(ready.count(), 1);
}

TEST(RegisterApp, APersonalisedCardIsActivatedOnceTheCheckHasPassed) {
  testing::EnsureApp();
  WindowOptions options;
  options.reg.home = testing::FreshHome();
  options.card = [] {
    sim::EngineOptions card;
    card.startLifecycle = sim::Lifecycle::kPersonalised;
    card.transportPin = "654321";
    return testing::UserSimCard(std::move(card));
  };
  RegisterApp app(options);
  QSignalSpy ready(&app, &RegisterApp::ready);
  // The PIN window runs its own loop: the operator types while it shows.
  QTimer typist;
  QObject::connect(&typist, &QTimer::timeout, [&] {
    TransportPinDialog* pin = app.Window() ? app.Window()->Tools().transportPin : nullptr;
    if (pin == nullptr || !pin->isVisible()) return;
    typist.stop();
    pin->SetPin(QStringLiteral("654321"));
    pin->findChild<QPushButton*>(QStringLiteral("PINButton"))->click();
  });
  typist.start(5);
  app.Start();
  ASSERT_TRUE(ready.wait(15000));
  EXPECT_TRUE(app.Window()->isVisible());
  EXPECT_FALSE(app.Splash()->isVisible());
  // The activation itself waits for the passed check, then asks.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !app.Reg().Card().TransportPinRequested(); }, 10000));
  EXPECT_EQ(app.Reg().Card().State().lifeCycleCode, "03");
}

TEST(RegisterApp, ACardThatCannotStartShowsTheCardErrorAndNoWindow) {
  testing::EnsureApp();
  WindowOptions options;
  options.reg.home = testing::FreshHome();
  // A folder where the card's file should be: the simulated card cannot start.
  options.card = [folder = options.reg.home / "Journal"] { return testing::SimCard(folder); };
  RegisterApp app(options);
  QSignalSpy ready(&app, &RegisterApp::ready);
  app.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !app.Problem().isEmpty(); }, 10000));
  EXPECT_FALSE(app.Splash()->isVisible());
  EXPECT_FALSE(app.Window()->isVisible());
  EXPECT_TRUE(app.Window()->Tools().cardError->isVisible());
  EXPECT_EQ(ready.count(), 0);
}

TEST(MainWindowStatusBar, NamesTheCardInUseAndTheVerificationPageInTheLanguage) {
  Till till;
  EXPECT_EQ(till.window->CardInUseLabel()->text(),
            QStringLiteral("Karte: die simulierte Karte in der Kasse"));
  EXPECT_EQ(till.window->VerifyPageLabel()->text(),
            QString::fromUtf8("Prüfseite: http://127.0.0.1:8080/verify.php"));
  // A message of the moment does not hide them.
  till.window->Actions().languages[1]->trigger();
  till.window->BookSelected();
  EXPECT_TRUE(till.window->CardInUseLabel()->isVisible());
  EXPECT_EQ(till.window->CardInUseLabel()->text(),
            QStringLiteral("Card: the simulated card inside the register"));
  EXPECT_EQ(till.window->VerifyPageLabel()->text(),
            QStringLiteral("Verification page: http://127.0.0.1:8080/verify.php"));
  // How the card was found, on hover, in the operator's language.
  till.window->SetStartFacts(AboutFacts{},
                             MakeError(ErrorKind::kCard, msg::kCardChosenThroughPcscd,
                                       {"/home/eva/.local/state/kasse/card-v2.state", "4711"}));
  EXPECT_EQ(till.window->CardInUseLabel()->toolTip(),
            QStringLiteral("Card: through pcscd, as process 4711 holds the simulated card "
                           "/home/eva/.local/state/kasse/card-v2.state (qor-sim serves it on "
                           "the vpcd reader)"));
}

TEST(MainWindowStatusBar, TheVerificationPageIsTheHostOfTheSettings) {
  const auto home = testing::FreshHome();
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "start.ini", "[Verify]\nhost=kasse.example:9000\n"));
  RegisterOptions options;
  options.home = home;
  Register reg(options, testing::UserSimCard());
  ASSERT_TRUE(reg.Start());
  testing::EnsureApp();
  MainWindow window(reg);
  window.Started();
  EXPECT_EQ(window.VerifyPageLabel()->text(),
            QString::fromUtf8("Prüfseite: http://kasse.example:9000/verify.php"));
}

TEST(StatusLine, TellsTheVpcdReaderFromAnyOtherReader) {
  const Language german(testing::FreshHome());
  Language texts = german;
  ASSERT_TRUE(texts.ApplyLanguage("Deutsch"));
  EXPECT_EQ(CardInUseText(texts, false, "Virtual PCD 00 01"),
            QStringLiteral("Karte: die simulierte Karte am vpcd-Leser Virtual PCD 00 01"));
  EXPECT_EQ(CardInUseText(texts, false, "REINER SCT cyberJack 00 00"),
            QStringLiteral("Karte: eine Karte im Leser REINER SCT cyberJack 00 00"));
  EXPECT_EQ(CardInUseText(texts, false, ""), QString());  // not found yet
  EXPECT_EQ(CardInUseText(texts, true, "QOR Sim Reader 0"),
            QStringLiteral("Karte: die simulierte Karte in der Kasse"));
  // Without a text in the language, English; an argument is never read as a placeholder.
  Language none(testing::NewFolder("none"), {});
  ASSERT_FALSE(none.ApplyLanguage("Deutsch"));
  EXPECT_EQ(CardInUseText(none, false, "Reader %2 %1"),
            QStringLiteral("card: a card in reader Reader %2 %1"));
}

TEST(MainWindowAbout, NamesVersionLicenceAndFolders) {
  Till till;
  EXPECT_EQ(till.window->Actions().about->text(), QString::fromUtf8("Über Kasse"));
  const AboutFacts facts{"9.8.7", till.home, till.home / "state"};
  till.window->SetStartFacts(facts, std::nullopt);
  till.window->Actions().about->trigger();
  auto* box = till.window->findChild<QMessageBox*>(QStringLiteral("AboutBox"));
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->windowTitle(), QString::fromUtf8("Über Kasse"));
  const QString text = box->text();
  EXPECT_TRUE(text.startsWith(QStringLiteral("kasse 9.8.7\n"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Apache-2.0"))) << text.toStdString();
  EXPECT_TRUE(
      text.contains(QStringLiteral("Kassenordner: ") + QString::fromStdString(till.home.string())));
  EXPECT_TRUE(text.contains(QString::fromStdString((till.home / "state").string())));
  box->close();
  // In the language chosen since.
  till.window->Actions().languages[1]->trigger();
  EXPECT_EQ(till.window->Actions().about->text(), QStringLiteral("About Kasse"));
  EXPECT_TRUE(AboutText(till.reg->Texts(), facts)
                  .contains(QStringLiteral("Register home: ") +
                            QString::fromStdString(till.home.string())));
}

TEST(MainWindowAbout, ByDefaultTheStateFolderIsTheUsers) {
  Till till;
  till.window->Actions().about->trigger();
  auto* box = till.window->findChild<QMessageBox*>(QStringLiteral("AboutBox"));
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text().contains(QString::fromStdString(UserStateFolder().string())));
  box->close();
}

}  // namespace
}  // namespace kasse
