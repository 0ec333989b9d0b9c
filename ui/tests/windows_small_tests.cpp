// The small windows: VAT-rate editor, monitors, transport PIN, card error, clock and splash,
// over the simulated card in this process.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>
#include <memory>

#include "common/files.h"
#include "register/register.h"
#include "register/register_probe.h"
#include "register/tests/sim_card.h"
#include "ui/card_error_window.h"
#include "ui/card_monitor_window.h"
#include "ui/clock_window.h"
#include "ui/function_monitor_window.h"
#include "ui/tests/ui_test_support.h"
#include "ui/transport_pin_dialog.h"
#include "ui/vat_rate_dialog.h"

namespace kasse {
namespace {

using testing::EnsureApp;
using testing::FreshHome;

// A register in a fresh home on the user's card; `card` says how a new card starts.
std::unique_ptr<Register> StartedRegister(RegisterOptions options = {},
                                          sim::EngineOptions card = {}) {
  EnsureApp();
  options.home = FreshHome();
  auto reg = std::make_unique<Register>(options, testing::UserSimCard(std::move(card)));
  const Result<void> started = reg->Start();
  EXPECT_TRUE(started) << (started ? "" : started.error().English());
  return reg;
}

std::string Slurp(const std::filesystem::path& file) {
  Result<std::string> text = ReadFile(file);
  return text ? *text : std::string();
}

TEST(VatRateDialog, RefusesABadRateAndSavesGoodOnes) {
  auto reg = StartedRegister();
  VatRateDialog dialog(*reg, nullptr);
  dialog.show();
  auto* second = dialog.findChild<QLineEdit*>(QStringLiteral("USS2"));
  auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("OkButton"));
  const std::string before = reg->Config().containerRate[1];
  EXPECT_EQ(second->text().toStdString(), before);

  second->setText(QStringLiteral("07"));  // the mask takes it, the rule does not
  ok->click();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(dialog.findChild<QLabel*>(QStringLiteral("Problem"))->isHidden());
  EXPECT_EQ(reg->Config().containerRate[1], before);

  second->setText(QStringLiteral("0700"));
  ok->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(reg->Config().containerRate[1], "0700");
  // Kept in the configuration file for the next start, once the register saves its settings.
  ASSERT_TRUE(reg->SaveSettings());
  EXPECT_NE(Slurp(reg->Config().ConfigPath()).find("0700"), std::string::npos);
}

TEST(VatRateDialog, DuringASaleTheRatesAreReadOnlyWithTheNotice) {
  auto reg = StartedRegister();
  ASSERT_TRUE(reg->BookProduct(0, "1"));
  VatRateDialog dialog(*reg, nullptr);
  dialog.show();
  EXPECT_FALSE(dialog.findChild<QLineEdit*>(QStringLiteral("USS1"))->isEnabled());
  EXPECT_TRUE(dialog.findChild<QPushButton*>(QStringLiteral("OkButton"))->isHidden());
  EXPECT_FALSE(dialog.findChild<QLabel*>(QStringLiteral("Notice"))->isHidden());
  // The register keeps the tax mode of the open sale; the box must show what holds.
  auto* box = dialog.findChild<QCheckBox*>(QStringLiteral("exSteuerBox"));
  const bool mode = reg->Config().exclusiveTax;
  box->click();
  EXPECT_EQ(box->isChecked(), mode);
  EXPECT_EQ(reg->Config().exclusiveTax, mode);

  reg->Abbruch();
  dialog.hide();
  dialog.show();
  EXPECT_TRUE(dialog.findChild<QLineEdit*>(QStringLiteral("USS1"))->isEnabled());
  EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("Notice"))->isHidden());
  box->click();
  EXPECT_EQ(reg->Config().exclusiveTax, !mode);
}

TEST(FunctionMonitorWindow, FollowsTheLogAndSavesItAsRichText) {
  auto reg = StartedRegister();
  FunctionMonitorWindow window(*reg, nullptr);
  FunctionMonitor& log = RegisterProbe::Monitor(*reg);
  log.Clear();
  log.MonitorWriteLine("Kopf");
  window.Refresh();
  log.MonitorWrite(" weiter");  // continues the shown line
  log.MonitorWriteLine(
      "Gr\xFC\xDF"
      "e");
  window.Refresh();
  EXPECT_EQ(window.ShownText(), QString::fromUtf8("Kopf weiter\nGr\u00FC\u00DFe"));

  // Cleared and refilled between two looks: the view must not keep the old text.
  log.Clear();
  log.MonitorWriteLine("Neu");
  log.MonitorWriteLine("und mehr als vorher da stand");
  window.Refresh();
  EXPECT_EQ(window.ShownText(), QStringLiteral("Neu\nund mehr als vorher da stand"));

  const auto file = testing::FreshFolder() / "monitor.txt";
  ASSERT_TRUE(window.SaveTo(file));
  const std::string saved = Slurp(file);
  EXPECT_EQ(saved.rfind("{\\rtf", 0), 0u) << saved;
  EXPECT_NE(saved.find("und mehr als vorher"), std::string::npos);
}

TEST(CardMonitorWindow, ShowsTheCardLogInItsColours) {
  auto reg = StartedRegister();
  CardMonitorWindow window(*reg, nullptr);
  window.ShowMonitor(true);
  EXPECT_TRUE(reg->Card().Log().Logging());
  ASSERT_TRUE(reg->BookProduct(0, "1"));
  ASSERT_TRUE(reg->Summe());
  ASSERT_TRUE(reg->Kassieren());
  window.Refresh();

  const QColor text = window.View()->palette().color(QPalette::Text);
  int blue = 0, black = 0, plain = 0;
  const QTextDocument* document = window.View()->document();
  ASSERT_EQ(document->blockCount(), static_cast<int>(reg->Card().Log().Lines().size()));
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    const QColor colour = block.begin().fragment().charFormat().foreground().color();
    if (block.text().startsWith(QStringLiteral("Result;"))) {
      EXPECT_EQ(colour, QColor(0, 0, 0));
      ++black;
    } else if (block.text() == QStringLiteral("QOR-Status")) {
      EXPECT_EQ(colour, QColor(0, 0, 255));
      ++blue;
    } else if (block.text().startsWith(QStringLiteral("Card,APDU;"))) {
      EXPECT_EQ(colour, text);
      ++plain;
    }
  }
  EXPECT_GT(blue, 0);
  EXPECT_GT(black, 0);
  EXPECT_GT(plain, 0);

  // Tag 52 is the monitors' "Löschen"; it must not become the window's title.
  ASSERT_TRUE(reg->SetLanguage("English"));
  window.Relabel();
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Cardmonitor"));
  EXPECT_EQ(window.findChild<QAction*>(QStringLiteral("ClearMess"))->text(),
            QStringLiteral("Clear"));

  // Closing ends logging; the main window hears of it.
  QSignalSpy closed(&window, &CardMonitorWindow::closed);
  window.close();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(reg->Card().Log().Logging());
}

TEST(TransportPinDialog, AWrongPinKeepsItOpenTheRightOneActivates) {
  sim::EngineOptions card;
  card.startLifecycle = sim::Lifecycle::kPersonalised;
  card.transportPin = "654321";
  auto reg = StartedRegister({}, std::move(card));
  ASSERT_TRUE(reg->Card().TransportPinRequested());
  TransportPinDialog dialog(*reg, nullptr);
  dialog.show();

  dialog.SetPin(QStringLiteral("12"));
  EXPECT_FALSE(dialog.Confirm());
  EXPECT_FALSE(dialog.Problem().isEmpty());
  dialog.SetPin(QStringLiteral("123456"));
  EXPECT_FALSE(dialog.Confirm());
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(reg->Card().State().lifeCycleCode, "02");

  dialog.SetPin(QStringLiteral("654321"));
  QTest::keyClick(dialog.findChild<QLineEdit*>(QStringLiteral("PINEdit")), Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(reg->Card().State().lifeCycleCode, "03");
  EXPECT_FALSE(reg->Card().TransportPinRequested());
}

TEST(TransportPinDialog, AskedForDuringStartUpItComesOnceTheCheckHasPassed) {
  EnsureApp();
  RegisterOptions options;
  options.home = FreshHome();
  sim::EngineOptions card;
  card.startLifecycle = sim::Lifecycle::kPersonalised;
  card.transportPin = "654321";
  Register reg(options, testing::UserSimCard(std::move(card)));
  TransportPinDialog dialog(reg, nullptr);
  // As the main window asks, inside Start.
  struct PinHost : RegisterHost {
    explicit PinHost(TransportPinDialog& d) : dialog(d) {}
    void RequestTransportPin() override { dialog.exec(); }
    TransportPinDialog& dialog;
  } host(dialog);
  reg.SetHost(&host);
  QTimer typist;
  QObject::connect(&typist, &QTimer::timeout, [&] {
    if (!dialog.isVisible()) return;
    typist.stop();
    dialog.SetPin(QStringLiteral("654321"));
    dialog.findChild<QPushButton*>(QStringLiteral("PINButton"))->click();
  });
  typist.start(5);
  ASSERT_TRUE(reg.Start());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !reg.Card().TransportPinRequested(); }, 5000))
      << dialog.Problem().toStdString();
  EXPECT_EQ(reg.Card().State().lifeCycleCode, "03");
}

TEST(CardErrorWindow, EveryWayOfClosingEndsTheRegisterOnce) {
  auto reg = StartedRegister();
  CardErrorWindow window(*reg, nullptr);
  QSignalSpy ends(&window, &CardErrorWindow::closedEndsRegister);
  window.show();
  window.findChild<QPushButton*>(QStringLiteral("CloseButton"))->click();
  window.close();
  EXPECT_EQ(ends.count(), 1);

  CardErrorWindow other(*reg, nullptr);
  QSignalSpy otherEnds(&other, &CardErrorWindow::closedEndsRegister);
  other.show();
  QTest::keyClick(&other, Qt::Key_Escape);
  EXPECT_EQ(otherEnds.count(), 1);
}

AppDateTime FixedNow() {
  return ToAppDateTime({2026, 12, 6, 12, 0, 0, 0});
}

TEST(ClockWindow, SettingThePickersMovesTheApplicationClock) {
  RegisterOptions options;
  options.now = FixedNow;
  auto reg = StartedRegister(options);
  ClockWindow window(*reg, nullptr);
  auto* timePicker = window.findChild<QTimeEdit*>(QStringLiteral("TimePicker"));
  EXPECT_FALSE(timePicker->isEnabled());

  window.ChooseMode(ClockMode::kStellen);
  EXPECT_TRUE(timePicker->isEnabled());
  window.SetPickers(QDate(2027, 3, 4), QTime(10, 15));
  window.ChooseMode(ClockMode::kSynchron);
  EXPECT_FALSE(timePicker->isEnabled());
  EXPECT_EQ(reg->Clock().GetAppDate().text, "20270304");
  EXPECT_EQ(reg->Clock().GetAppTime().text, "1015");

  QSignalSpy shown(&window, &ClockWindow::appClockShown);
  window.Tick();
  ASSERT_EQ(shown.count(), 1);
  EXPECT_EQ(shown.at(0).at(0).toString(), QStringLiteral("10:15:00"));
  EXPECT_EQ(window.findChild<QDateEdit*>(QStringLiteral("DatePicker"))->date(), QDate(2027, 3, 4));

  window.ChooseMode(ClockMode::kGleich);
  window.Tick();
  EXPECT_EQ(reg->Clock().AppTimeOffset(), 0.0);
  EXPECT_EQ(reg->Clock().GetAppDate().text, "20261206");
  EXPECT_EQ(timePicker->time(), QTime(12, 0));

  ASSERT_TRUE(reg->SetLanguage("English"));
  window.Relabel();
  EXPECT_EQ(window.findChild<QRadioButton*>(QStringLiteral("GlButton"))->text(),
            QStringLiteral("same"));
}

}  // namespace
}  // namespace kasse
