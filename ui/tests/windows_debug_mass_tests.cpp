// The debug console's hold and the mass-transaction window, over the simulated card in this
// process.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>

#include "common/files.h"
#include "register/register.h"
#include "register/register_probe.h"
#include "register/tests/sim_card.h"
#include "ui/debug_console.h"
#include "ui/mass_window.h"
#include "ui/tests/ui_test_support.h"

namespace kasse {
namespace {

using testing::EnsureApp;
using testing::FreshHome;

std::unique_ptr<Register> StartedRegister() {
  EnsureApp();
  RegisterOptions options;
  options.home = FreshHome();
  auto reg = std::make_unique<Register>(options, testing::UserSimCard());
  const Result<void> started = reg->Start();
  EXPECT_TRUE(started) << (started ? "" : started.error().English());
  return reg;
}

int CountOf(const std::string& text, std::string_view what) {
  int count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

// Runs `act` once, from inside the next hold: a timer polls until the console holds a command.
void WhileHeld(DebugConsole& console, std::function<void()> act) {
  auto* poll = new QTimer(&console);
  QObject::connect(poll, &QTimer::timeout, &console, [poll, &console, act = std::move(act)] {
    if (console.HeldText().isEmpty() || console.DebugWaitState() != DebugConsole::WaitState::kHeld)
      return;
    poll->stop();
    poll->deleteLater();
    act();
  });
  poll->start(5);
}

// What the main window does for a console of its own: the console is the hold while it lives.
class ConsoleHost : public RegisterHost {
 public:
  ConsoleHost(Register& reg, DebugConsole& console) : reg_(reg), console_(&console) {
    reg_.SetHost(this);
  }
  ~ConsoleHost() override { reg_.SetHost(nullptr); }
  DebugHold* CommandHold() override { return console_.data(); }

 private:
  Register& reg_;
  QPointer<DebugConsole> console_;
};

Result<void> SellOne(Register& reg) {
  if (auto booked = reg.BookProduct(0, "1"); !booked) return booked;
  if (auto total = reg.Summe(); !total) return total;
  return reg.Kassieren();
}

TEST(DebugConsole, HoldsTheTransactionUntilSend) {
  auto reg = StartedRegister();
  DebugConsole console(*reg, nullptr);
  ConsoleHost host(*reg, console);
  console.findChild<QCheckBox*>(QStringLiteral("CheckTrans"))->click();
  EXPECT_TRUE(reg->Switches().checkTrans);

  bool sawHold = false;
  WhileHeld(console, [&] {
    // The cash-in waits: nothing has been signed yet, the held text is the command.
    sawHold = RegisterProbe::Signing(*reg).LastResponseBase64().empty() && console.isVisible();
    console.findChild<QPushButton*>(QStringLiteral("SendButton"))->click();
  });
  ASSERT_TRUE(SellOne(*reg));
  EXPECT_TRUE(sawHold);
  EXPECT_EQ(console.DebugWaitState(), DebugConsole::WaitState::kSent);
  EXPECT_FALSE(RegisterProbe::Signing(*reg).LastResponseBase64().empty());
  EXPECT_TRUE(reg->CurrentSale().NoSaleOpen());
}

TEST(DebugConsole, AnEditedVerifyCommandFailsAndAnUntouchedOnePasses) {
  auto reg = StartedRegister();
  DebugConsole console(*reg, nullptr);
  ConsoleHost host(*reg, console);
  console.findChild<QCheckBox*>(QStringLiteral("CheckVer"))->click();
  console.findChild<QCheckBox*>(QStringLiteral("CheckManVer"))->click();
  ASSERT_TRUE(reg->Switches().checkVer && reg->Switches().checkManVer);

  WhileHeld(console, [&] { console.Send(); });
  ASSERT_TRUE(SellOne(*reg));
  EXPECT_EQ(RegisterProbe::Signing(*reg).LastVerification(), std::optional<bool>(true));
  EXPECT_FALSE(console.isVisible());  // hidden again after a held VERIFY SIGNATURE

  // The record's date (CD 04 yyyy mm dd) is signed: a changed day must not verify.
  WhileHeld(console, [&] {
    QString text = console.HeldText();
    const qsizetype date = text.indexOf(QStringLiteral("CD04"));
    if (date >= 0) {
      const qsizetype day = date + 11;
      text[day] = text[day] == QLatin1Char('1') ? QLatin1Char('2') : QLatin1Char('1');
    }
    console.SetHeldText(text);
    console.Send();
  });
  (void)SellOne(*reg);
  EXPECT_EQ(RegisterProbe::Signing(*reg).LastVerification(), std::optional<bool>(false));
}

TEST(DebugConsole, ClosingDuringAHoldSendsTheCommandAsBuilt) {
  auto reg = StartedRegister();
  DebugConsole console(*reg, nullptr);
  ConsoleHost host(*reg, console);
  console.findChild<QCheckBox*>(QStringLiteral("CheckManVer"))->click();
  console.findChild<QCheckBox*>(QStringLiteral("CheckTrans"))->click();
  WhileHeld(console, [&] {
    console.SetHeldText(QStringLiteral("00 00 garbage"));
    console.close();
  });
  ASSERT_TRUE(SellOne(*reg));
  EXPECT_EQ(console.DebugWaitState(), DebugConsole::WaitState::kClosed);
  EXPECT_FALSE(RegisterProbe::Signing(*reg).LastResponseBase64().empty());
  // Closing disarms both manipulations, in the window and in the register.
  EXPECT_FALSE(console.findChild<QCheckBox*>(QStringLiteral("CheckTrans"))->isChecked());
  EXPECT_FALSE(reg->Switches().checkTrans || reg->Switches().checkManVer);

  // Disarmed, the next sale passes straight through.
  ASSERT_TRUE(SellOne(*reg));
  EXPECT_EQ(
      CountOf(ReadFile(RegisterProbe::JournalFiles(*reg).LName()).value(), "<seqNoTransaction>"),
      2);
}

// The lenient reading would take the X for a 0 and send a record nobody wrote.
TEST(DebugConsole, ATextThatIsNotHexIsRefusedAndTheHoldGoesOn) {
  auto reg = StartedRegister();
  DebugConsole console(*reg, nullptr);
  ConsoleHost host(*reg, console);
  console.findChild<QCheckBox*>(QStringLiteral("CheckTrans"))->click();
  bool refused = false;
  bool sent = false;
  QString marked;
  WhileHeld(console, [&] {
    const QString held = console.HeldText();
    const qsizetype date = held.indexOf(QStringLiteral("CD 04"));
    if (date < 0) {
      console.Send();  // not the record looked for: let it go, the checks below fail
      return;
    }
    QString edited = held;
    edited[date + 1] = QLatin1Char('X');
    console.SetHeldText(edited);
    refused = !console.Send() && console.RefusalShown() &&
              console.DebugWaitState() == DebugConsole::WaitState::kHeld;
    marked =
        console.findChild<QPlainTextEdit*>(QStringLiteral("SendMemo"))->textCursor().selectedText();
    console.SetHeldText(held);
    sent = console.Send() && !console.RefusalShown();
  });
  ASSERT_TRUE(SellOne(*reg));
  EXPECT_TRUE(refused);
  EXPECT_EQ(marked, QStringLiteral("X"));
  EXPECT_FALSE(console.findChild<QLabel*>(QStringLiteral("RefusalLabel"))->text().isEmpty());
  EXPECT_TRUE(sent);
  EXPECT_EQ(console.DebugWaitState(), DebugConsole::WaitState::kSent);
  EXPECT_FALSE(RegisterProbe::Signing(*reg).LastResponseBase64().empty());
}

TEST(DebugConsole, FollowsTheMainMenuAndWithdrawsItsHold) {
  auto reg = StartedRegister();
  std::unique_ptr<ConsoleHost> host;
  {
    DebugConsole console(*reg, nullptr);
    host = std::make_unique<ConsoleHost>(*reg, console);
    console.SetVerifyOnCard(true);
    EXPECT_TRUE(reg->Switches().checkVer);
    // Switched in the register behind the console's back: a click on another box keeps it.
    ASSERT_TRUE(reg->SetSwitch(Register::Switch::kHashOnCard, true));
    console.findChild<QCheckBox*>(QStringLiteral("CheckTrans"))->click();
    EXPECT_TRUE(reg->Switches().checkHash && reg->Switches().checkTrans);
    console.SyncFromRegister();
    EXPECT_TRUE(console.findChild<QCheckBox*>(QStringLiteral("CheckHash"))->isChecked());
  }
  // With the console gone an armed switch must not wait on a dangling hold.
  ASSERT_TRUE(SellOne(*reg));
  EXPECT_EQ(RegisterProbe::Signing(*reg).LastVerification(), std::optional<bool>(true));
}

struct Mass {
  Mass() : reg(StartedRegister()), window(*reg, nullptr) {}
  void Fill(const char* transactions, const char* positions = "3") {
    window.findChild<QLineEdit*>(QStringLiteral("kTrEdit"))
        ->setText(QString::fromLatin1(transactions));
    window.findChild<QLineEdit*>(QStringLiteral("kTrBuchEdit"))
        ->setText(QString::fromLatin1(positions));
    window.findChild<QLineEdit*>(QStringLiteral("kStornoEdit"))->setText(QStringLiteral("4"));
    window.findChild<QLineEdit*>(QStringLiteral("sStk"))->setText(QStringLiteral("3"));
  }
  int Gauge() { return window.findChild<QProgressBar*>(QStringLiteral("Progr"))->value(); }
  QPushButton* Button(const char* name) {
    return window.findChild<QPushButton*>(QString::fromLatin1(name));
  }
  int Signed() {
    // The journal pair opens at the first journal write: none yet, nothing signed.
    if (RegisterProbe::JournalFiles(*reg).LName().empty()) return 0;
    return CountOf(ReadFile(RegisterProbe::JournalFiles(*reg).LName()).value(),
                   "<seqNoTransaction>");
  }

  std::unique_ptr<Register> reg;
  MassWindow window;
};

TEST(MassWindow, RunsTwentySalesWithProgressAndStaysResponsive) {
  Mass mass;
  mass.Fill("20");
  mass.window.show();
  std::vector<int> seen;
  bool buttonsRunning = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    seen.push_back(mass.Gauge());
    buttonsRunning =
        buttonsRunning || (!mass.Button("StartButton")->isEnabled() &&
                           mass.Button("StopButton")->isEnabled() && mass.window.Running());
  });
  watch.start(0);
  mass.Button("StartButton")->click();
  watch.stop();

  EXPECT_EQ(mass.window.Completed(), 20);
  EXPECT_EQ(mass.Gauge(), 20);
  EXPECT_EQ(mass.Signed(), 20);
  EXPECT_TRUE(buttonsRunning);  // events ran during the run
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_GT(seen.size(), 1u);
  EXPECT_TRUE(mass.Button("StartButton")->isEnabled());
  EXPECT_FALSE(mass.Button("StopButton")->isEnabled());
}

TEST(MassWindow, StopAndHidingEndTheRunAfterTheSaleInProgress) {
  Mass mass;
  mass.Fill("1000");
  mass.window.show();
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (mass.Gauge() >= 3) mass.Button("StopButton")->click();
  });
  watch.start(0);
  mass.Button("StartButton")->click();
  watch.stop();
  const int stopped = mass.window.Completed();
  EXPECT_GE(stopped, 3);
  EXPECT_LT(stopped, 10);
  EXPECT_EQ(mass.Gauge(), stopped);
  EXPECT_EQ(mass.Signed(), stopped);  // the sale in progress was still cashed in
  EXPECT_TRUE(mass.reg->CurrentSale().NoSaleOpen());

  // Cancel hides the window, which acts like Stop.
  QTimer::singleShot(0, mass.Button("CancelButton"), &QPushButton::click);
  mass.Button("StartButton")->click();
  EXPECT_FALSE(mass.window.isVisible());
  EXPECT_LT(mass.window.Completed(), 10);
}

TEST(MassWindow, StopAnswersWithinOnePosition) {
  Mass mass;
  mass.Fill("5", "100");
  mass.window.show();
  // Runs at the first chance the run gives the window: before the first sale's positions.
  QTimer::singleShot(0, mass.Button("StopButton"), &QPushButton::click);
  mass.Button("StartButton")->click();
  EXPECT_EQ(mass.window.Completed(), 1);
  EXPECT_EQ(mass.Signed(), 1);
  EXPECT_EQ(mass.reg->CurrentSale().Positions().size(), 1u);
}

TEST(MassWindow, RefusedSalesDoNotEndTheRunAndAreCountedAtItsEnd) {
  Mass mass;
  ASSERT_TRUE(mass.reg->Deactivate());
  mass.Fill("2");
  mass.Button("StartButton")->click();
  EXPECT_EQ(mass.window.Completed(), 2);
  const auto* problem = mass.window.findChild<QLabel*>(QStringLiteral("Problem"));
  EXPECT_FALSE(problem->isHidden());
  EXPECT_EQ(ToCore(problem->text()), "0 von 2 Verk\xE4ufen signiert; vom QOR abgelehnt: 2");
}

TEST(MassWindow, UnusableFieldsAreRefusedBeforeAnythingIsBooked) {
  Mass mass;
  for (const char* bad : {"zwanzig", "-5", ""}) {
    mass.Fill(bad);
    mass.Button("StartButton")->click();
    EXPECT_EQ(mass.window.Completed(), 0) << bad;
  }
  mass.Fill("2", "0");  // no positions at all
  mass.Button("StartButton")->click();
  EXPECT_EQ(mass.Signed(), 0);
  EXPECT_TRUE(mass.Button("StartButton")->isEnabled());
}

}  // namespace
}  // namespace kasse
