// The main window's views and menus: reports, language, card status, card removal, the look
// and the start-up with its screenshot.

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>

#include "common/cp1252.h"
#include "common/files.h"
#include "register/card_status_sheet.h"
#include "register/receipt_lines.h"
#include "ui/card_error_window.h"
#include "ui/look.h"
#include "ui/register_app.h"
#include "ui/report_view.h"
#include "ui/splash_window.h"
#include "ui/tests/main_window_fixture.h"

namespace kasse {
namespace {

using testing::Till;

void CashInOneSale(Register& reg) {
  ASSERT_TRUE(reg.BookProduct(0, ""));
  ASSERT_TRUE(reg.Summe());
  const Result<void> cashed = reg.Kassieren();
  ASSERT_TRUE(cashed) << cashed.error().English();
}

TEST(MainWindowReports, ReportViewReplacesTheListAndRunsItsReports) {
  Till till;
  CashInOneSale(*till.reg);
  MainWindow& window = *till.window;
  window.Actions().reportView->trigger();
  ReportView* reports = window.Reports();
  EXPECT_TRUE(window.ReportViewShown());
  EXPECT_TRUE(reports->isVisibleTo(&window));
  EXPECT_FALSE(window.ProductGroup()->isVisibleTo(&window));
  EXPECT_FALSE(window.Actions().editor->isEnabled());
  EXPECT_FALSE(window.Actions().verifyOnCard->isVisible());
  ASSERT_GE(reports->Months()->count(), 1) << window.LastProblem().toStdString();
  EXPECT_FALSE(reports->CardStart()->text().isEmpty());

  const std::string daily = till.reg->Texts().LangText(36);
  QTest::mouseClick(reports->DailyButton(), Qt::LeftButton);
  EXPECT_TRUE(window.LastProblem().isEmpty()) << window.LastProblem().toStdString();
  EXPECT_TRUE(till.ReceiptHas(daily));
  reports->SignedBox()->setChecked(false);
  QTest::mouseClick(reports->DailyButton(), Qt::LeftButton);
  EXPECT_TRUE(window.LastProblem().isEmpty()) << window.LastProblem().toStdString();

  reports->Months()->setCurrentRow(0);
  QTest::mouseClick(reports->SpanButton(), Qt::LeftButton);
  EXPECT_TRUE(window.LastProblem().isEmpty()) << window.LastProblem().toStdString();
  EXPECT_TRUE(till.ReceiptHas(till.reg->Texts().LangText(37)));
  reports->Months()->clearSelection();
  QTest::mouseClick(reports->SpanButton(), Qt::LeftButton);
  EXPECT_FALSE(window.LastProblem().isEmpty());

  QTest::mouseClick(reports->LeaveButton(), Qt::LeftButton);
  EXPECT_FALSE(window.ReportViewShown());
  EXPECT_TRUE(window.ProductGroup()->isVisibleTo(&window));
  EXPECT_TRUE(window.Actions().editor->isEnabled());
}

TEST(MainWindowLanguage, LanguageMenuRelabelsTheWindowAndItsTools) {
  Till till;
  MainWindow& window = *till.window;
  const QString german = window.SummeButton()->text();
  window.Actions().languages[1]->trigger();
  const Language& texts = till.reg->Texts();
  EXPECT_EQ(texts.Current(), "English");
  EXPECT_EQ(window.SummeButton()->text(), FromCore(texts.Caption(111)));
  EXPECT_NE(window.SummeButton()->text(), german);
  EXPECT_EQ(window.windowTitle(), FromCore(texts.Caption(20)));
  EXPECT_EQ(window.ProductGroup()->title(), FromCore(texts.Caption(91)));
  EXPECT_EQ(window.Actions().status->text(), FromCore(texts.Caption(30)));
  // A new receipt starts with the header of the new language.
  ASSERT_TRUE(till.reg->BookProduct(0, ""));
  EXPECT_TRUE(till.ReceiptHas(texts.LangText(12)));

  window.Actions().languages[3]->trigger();
  EXPECT_EQ(till.reg->Texts().Current(), "Polish");
  EXPECT_EQ(window.SummeButton()->text(), FromCore(till.reg->Texts().Caption(111)));
}

TEST(CaptionBook, CaptionsBlankWhenMissingButPanelsKeepTheirTextAndFieldsOnlyTakeHints) {
  testing::EnsureApp();
  const auto home = testing::FreshHome();
  ASSERT_TRUE(
      WriteFileAtomic(home / "cfg" / "lang.ini", "[Deutsch]\r\n5cap=L\xF6schen\r\n5hint=Tipp\r\n"));
  Language language(home, {});  // the home's file alone
  ASSERT_TRUE(language.ApplyLanguage("Deutsch"));
  QLabel label(QStringLiteral("old")), missing(QStringLiteral("old")),
      panel(QStringLiteral("1900"));
  QLineEdit field(QStringLiteral("typed"));
  CaptionBook book;
  book.Add(&label, 5);
  book.Add(&missing, 6);
  book.Add(&panel, 6, CaptionBook::Kind::kPanel);
  book.Add(&field, 5, CaptionBook::Kind::kHint);
  book.Apply(language);
  EXPECT_EQ(label.text(), QString::fromUtf8("Löschen"));
  EXPECT_EQ(label.toolTip(), QStringLiteral("Tipp"));
  EXPECT_EQ(missing.text(), QString());
  EXPECT_EQ(panel.text(), QStringLiteral("1900"));
  EXPECT_EQ(field.text(), QStringLiteral("typed"));
  EXPECT_EQ(field.toolTip(), QStringLiteral("Tipp"));
}

TEST(MainWindowMenus, ProductContextMenuDeletesTheSelectedEntry) {
  Till till;
  const int entries = till.List()->count();
  const std::string second = till.Product(1).name;
  till.List()->setCurrentRow(0);
  QMenu* menu = till.window->Products()->ContextMenu();
  ASSERT_FALSE(menu->actions().isEmpty());
  menu->actions().front()->trigger();
  EXPECT_EQ(till.List()->count(), entries - 1);
  EXPECT_EQ(till.reg->Products().Products().size(), std::size_t(entries - 1));
  EXPECT_EQ(till.Product(0).name, second);
  EXPECT_EQ(till.List()->currentRow(), 0);
}

TEST(MainWindowMenus, SecurityElementChoiceKeepsOneOfTheTwoOn) {
  Till till;
  const MainActions& actions = till.window->Actions();
  ASSERT_TRUE(actions.qrCode->isChecked());
  ASSERT_FALSE(actions.securityText->isChecked());
  actions.qrCode->trigger();
  EXPECT_TRUE(actions.securityText->isChecked());
  EXPECT_FALSE(actions.qrCode->isChecked());
  actions.securityText->trigger();
  EXPECT_TRUE(actions.qrCode->isChecked());
  EXPECT_FALSE(actions.securityText->isChecked());
  actions.securityText->trigger();
  EXPECT_TRUE(actions.qrCode->isChecked());
  EXPECT_TRUE(actions.securityText->isChecked());
  EXPECT_TRUE(till.SaleNow().settings.showSecurityText);
}

// The lines of the receipt from the sheet's title on.
std::vector<std::string> SheetLines(const Till& till) {
  const std::vector<std::string>& lines = till.SaleNow().ReceiptLines();
  const std::string title = "\t  " + till.reg->Texts().LangText(60);
  auto at = std::find(lines.begin(), lines.end(), title);
  if (at == lines.begin() || at == lines.end()) return {};
  return std::vector<std::string>(at - 1, lines.end());
}

TEST(CardStatusSheet, VersionTwoCardAddsHashLengthAndAlgorithms) {
  Till till;
  till.window->Actions().status->trigger();
  const std::vector<std::string> sheet = SheetLines(till);
  ASSERT_EQ(sheet.size(), 3u + 9u + 3u);
  EXPECT_EQ(sheet[0], "");
  EXPECT_EQ(sheet[2], "");
  const Language& texts = till.reg->Texts();
  EXPECT_EQ(sheet[3].rfind(texts.LangText(63) + "\t\t", 0), 0u);
  EXPECT_EQ(sheet[5], texts.LangText(42) + "\t\t" + till.reg->Card().State().TpId);
  EXPECT_EQ(sheet[12], "");
  EXPECT_EQ(sheet[14].rfind(texts.LangText(81) + "\t", 0), 0u);
  EXPECT_TRUE(till.SaleNow().NoSaleOpen());
}

TEST(CardStatusSheet, VersionOneCardHasNineValuesAndMissingValuesStayEmpty) {
  Till till(1);
  till.window->Actions().status->trigger();
  EXPECT_EQ(SheetLines(till).size(), 3u + 9u);

  const std::vector<std::string> lines =
      SplitLines(CardStatusSheetText(till.reg->Texts(), {"03", "T.1.1"}));
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[4], till.reg->Texts().LangText(61) + "\t\t\tT.1.1");
  EXPECT_EQ(lines[11], till.reg->Texts().LangText(68) + "\t");
}

TEST(MainWindowCard, RemovingTheCardOpensTheCardErrorWindowWhoseClosingEndsTheRun) {
  Till till;
  QSignalSpy ended(till.window.get(), &MainWindow::endRegister);
  till.card->Reader().RemoveCard();
  CardErrorWindow* error = till.window->Tools().cardError;
  for (int i = 0; i < 250 && !error->isVisible(); ++i) {
    till.reg->ProcessCardEvents();
    QTest::qWait(20);
  }
  ASSERT_TRUE(error->isVisible());
  EXPECT_TRUE(till.reg->Card().Failed());
  // The window says what happened, in the operator's language.
  const auto* reason = error->findChild<QLabel*>(QStringLiteral("Reason"));
  ASSERT_NE(reason, nullptr);
  EXPECT_EQ(ToCore(reason->text()), "Die QOR-Karte wurde entfernt");
  error->reject();
  EXPECT_EQ(ended.count(), 1);
}

TEST(MainWindowStart, WhatTheRegisterCouldNotReadIsNamedInTheStatusBar) {
  testing::EnsureApp();
  RegisterOptions options;
  options.home = testing::FreshHome();
  ASSERT_TRUE(WriteFileAtomic(options.home / "cfg" / "start.ini", "[Tax]\ncontainer1=19\n"));
  Register reg(options, testing::UserSimCard());
  MainWindow window(reg);
  testing::QuietHost quiet(window);
  reg.SetHost(&quiet);
  ASSERT_TRUE(reg.Start());
  window.Started();
  const QString shown = window.statusBar()->currentMessage();
  EXPECT_TRUE(shown.contains(QStringLiteral("cfg/start.ini: [Tax] container1=19")))
      << shown.toStdString();
  EXPECT_EQ(window.LastProblem(), shown);
}

TEST(MainWindowClose, TheOrderlyCloseWritesTheSettings) {
  Till till;
  const auto ini = till.home / "cfg" / "start.ini";
  ASSERT_TRUE(till.reg->SetOperatorName(2, "bob"));
  EXPECT_FALSE(std::filesystem::exists(ini));  // a change alone writes nothing
  till.window->close();
  const Result<std::string> text = ReadFile(ini);
  ASSERT_TRUE(text) << text.error().English();
  EXPECT_NE(text->find("operator2=bob"), std::string::npos);
}

TEST(Look, BevelledGradientRunsFromTheFirstToTheSecondColour) {
  QImage picture(101, 40, QImage::Format_ARGB32);
  picture.fill(Qt::transparent);
  {
    QPainter painter(&picture);
    PaintGradient(painter, kGradientFrom, kGradientTo, GradientDirection::kBevelledLeft,
                  picture.rect());
  }
  EXPECT_EQ(picture.pixelColor(0, 20), BgrColour(kGradientFrom));
  const QColor last = picture.pixelColor(100, 20);
  const QColor to = BgrColour(kGradientTo);
  EXPECT_NEAR(last.red(), to.red(), 2);
  EXPECT_NEAR(last.green(), to.green(), 2);
  EXPECT_NEAR(last.blue(), to.blue(), 2);
  EXPECT_EQ(picture.pixelColor(0, 2).alpha(), 0);  // the bevel leaves the corner
  EXPECT_EQ(picture.pixelColor(7, 0).alpha(), 255);
  EXPECT_EQ(picture.pixelColor(50, 39).alpha(), 0);  // two rows short of the bottom
  EXPECT_EQ(BgrColour(0x3366FF), QColor(0xFF, 0x66, 0x33));
}

TEST(RegisterApp, StartsThroughTheSplashCashesInTheDemoSaleAndSavesTheScreenshot) {
  testing::EnsureApp();
  WindowOptions options;
  options.reg.home = testing::FreshHome();
  options.demoSale = true;
  options.screenshot = options.reg.home / "register.png";
  options.card = [] { return testing::UserSimCard(); };
  RegisterApp app(options);
  QSignalSpy finished(&app, &RegisterApp::finished);
  QSignalSpy ready(&app, &RegisterApp::ready);
  app.Start();
  ASSERT_NE(app.Window(), nullptr);
  // The splash stays while the card settles; the window comes after the check.
  EXPECT_TRUE(app.Splash()->isVisible());
  EXPECT_FALSE(app.Window()->isVisible());
  ASSERT_TRUE(ready.wait(10000));
  EXPECT_TRUE(app.Window()->isVisible());
  EXPECT_FALSE(app.Splash()->isVisible());
  EXPECT_EQ(app.Splash()->Progress(), 100);
  ASSERT_TRUE(finished.count() > 0 || finished.wait(15000));
  EXPECT_EQ(finished.at(0).at(0).toInt(), 0) << app.Problem().toStdString();
  EXPECT_FALSE(app.Reg().LastVerifyUrl().empty());
  const QImage shot(QString::fromStdString(options.screenshot.string()));
  EXPECT_EQ(shot.size(), app.Window()->size());
}

TEST(RegisterApp, MassRunFromTheCommandLineSignsEverySaleWithBothMonitorsOpen) {
  testing::EnsureApp();
  WindowOptions options;
  options.reg.home = testing::FreshHome();
  options.massRun = 12;
  options.card = [] { return testing::UserSimCard(); };
  RegisterApp app(options);
  QSignalSpy finished(&app, &RegisterApp::finished);
  app.Start();
  ASSERT_TRUE(finished.wait(30000));
  EXPECT_EQ(finished.at(0).at(0).toInt(), 0) << app.Problem().toStdString();
  const Result<std::string> lFile = ReadFile(RegisterProbe::JournalFiles(app.Reg()).LName());
  ASSERT_TRUE(lFile);
  EXPECT_NE(lFile->find("<seqNoTransaction>12</seqNoTransaction>"), std::string::npos);
  EXPECT_FALSE(app.Reg().Card().Log().Lines().empty());
}

}  // namespace
}  // namespace kasse
