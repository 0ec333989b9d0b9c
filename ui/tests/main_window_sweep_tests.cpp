// The main window's details: messages in the chosen language, the operator buttons beside the
// mass generator, the window icon, the Debug entry, the scanner's place, the card status sheet of a
// failed card and the refused tax mode.

#include <QCheckBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>

#include "common/files.h"
#include "common/ini_file.h"
#include "register/language.h"
#include "register/messages.h"
#include "ui/debug_console.h"
#include "ui/mass_window.h"
#include "ui/register_app.h"
#include "ui/scanner_geometry.h"
#include "ui/scanner_window.h"
#include "ui/tests/main_window_fixture.h"
#include "ui/vat_rate_dialog.h"

namespace kasse {
namespace {

using testing::Till;

std::string Text(const Till& till, const MessageId& message) {
  return till.reg->Texts().LangText(message.number);
}

std::string ShippedText(const char* section, int number) {
  const Result<IniFile> file = IniFile::Load(Language::ShippedFile());
  return file ? file->GetString(section, std::to_string(number) + "txt", "") : std::string();
}

TEST(MainWindowMessages, AMessageAfterALanguageSwitchIsInTheNewLanguage) {
  Till till;
  ASSERT_TRUE(till.reg->BookProduct(0, ""));
  till.window->PercentField()->setText(QStringLiteral("x"));
  till.window->Percent(PercentSign::kDiscount);
  EXPECT_EQ(ToCore(till.window->LastProblem()), Text(till, msg::kPercentNotNumber));
  EXPECT_EQ(ToCore(till.window->LastProblem()), "Der Prozentsatz ist keine Zahl");

  till.window->Actions().languages[2]->trigger();  // Francais
  till.window->Percent(PercentSign::kDiscount);
  EXPECT_EQ(ToCore(till.window->LastProblem()), "Le pourcentage n'est pas un nombre");

  till.window->Actions().languages[1]->trigger();  // English
  VatRateDialog* dialog = till.window->Tools().vatRates;
  dialog->show();
  dialog->findChild<QCheckBox*>(QStringLiteral("exSteuerBox"))->click();
  EXPECT_EQ(ToCore(dialog->findChild<QLabel*>(QStringLiteral("Problem"))->text()),
            Text(till, msg::kTaxModeDuringSale));
  dialog->hide();
}

TEST(MainWindowMessages, ALanguageTheHomesCopyLacksComesFromTheShippedFile) {
  Till till;
  // An older copy: German only, and without the texts a newer version added.
  ASSERT_TRUE(WriteFileAtomic(till.home / "cfg" / "lang.ini", "[Deutsch]\n12txt=BELEG\n"));
  till.window->Actions().languages[0]->trigger();
  EXPECT_EQ(till.reg->Texts().LangText(12), "BELEG");
  EXPECT_EQ(till.reg->Texts().LangText(msg::kCardInRegister.number),
            "Karte: die simulierte Karte in der Kasse");
  EXPECT_EQ(till.window->CardInUseLabel()->text(),
            QStringLiteral("Karte: die simulierte Karte in der Kasse"));
  till.window->Actions().languages[1]->trigger();
  EXPECT_EQ(till.reg->Config().language, "English");
  EXPECT_EQ(till.reg->Texts().LangText(12), ShippedText("English", 12));
  EXPECT_FALSE(till.reg->Texts().LangText(12).empty());
  EXPECT_TRUE(till.window->LastProblem().isEmpty()) << till.window->LastProblem().toStdString();
  ASSERT_TRUE(till.reg->BookProduct(0, ""));
  ASSERT_TRUE(till.reg->Summe());
  EXPECT_TRUE(till.reg->Kassieren());
}

TEST(MainWindowTaxMode, RefusedDuringASaleWithTheReasonInTheLanguage) {
  Till till;
  ASSERT_TRUE(till.reg->BookProduct(0, ""));
  VatRateDialog* dialog = till.window->Tools().vatRates;
  dialog->show();
  auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("exSteuerBox"));
  const bool mode = till.reg->Config().exclusiveTax;
  box->click();
  EXPECT_EQ(box->isChecked(), mode);
  const auto* problem = dialog->findChild<QLabel*>(QStringLiteral("Problem"));
  EXPECT_FALSE(problem->isHidden());
  EXPECT_EQ(ToCore(problem->text()), Text(till, msg::kTaxModeDuringSale));
  EXPECT_NE(problem->text().indexOf(QStringLiteral("erst kassieren")), -1);
  dialog->hide();
}

TEST(MainWindowOperators, TheButtonsFollowTheOperatorTheGeneratorChose) {
  Till till;
  till.window->OperatorButton(1)->setChecked(true);
  ASSERT_TRUE(till.reg->SelectOperator(2));  // as the generator does
  till.window->Refresh();
  EXPECT_TRUE(till.window->OperatorButton(2)->isChecked());
  EXPECT_FALSE(till.window->OperatorButton(1)->isChecked());

  MassWindow* mass = till.window->Tools().mass;
  mass->SetTransactions(6);
  mass->findChild<QLineEdit*>(QStringLiteral("kTrBuchEdit"))->setText(QStringLiteral("2"));
  mass->StartRun();
  ASSERT_EQ(mass->Completed(), 6);
  EXPECT_TRUE(till.window->OperatorButton(till.reg->Config().activeOperator)->isChecked());
}

TEST(MainWindowMass, TheWindowRunSeedsTheGeneratorFromTheClock) {
  testing::EnsureApp();
  WindowOptions window;
  window.reg.home = testing::FreshHome();
  window.card = [] { return testing::UserSimCard(); };
  RegisterApp app(window);
  app.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return app.Reg().Card().Checked(); }, 10000));
  RegisterOptions options;
  options.home = window.reg.home.parent_path() / (window.reg.home.filename().string() + "_batch");
  std::filesystem::remove_all(options.home);
  std::filesystem::copy(window.reg.home, options.home, std::filesystem::copy_options::recursive);
  // The seed of the options, as batch keeps it; the window holds its own card.
  Register batch(options, testing::SimCard(options.home / "batch-card.state"));
  ASSERT_TRUE(batch.Start());
  Register::MassOptions mass;
  mass.transactions = 1;
  mass.maxPositions = 100;
  ASSERT_TRUE(app.Reg().MassTransactions(mass, nullptr, {}));
  ASSERT_TRUE(batch.MassTransactions(mass, nullptr, {}));
  const auto names = [](const Register& reg) {
    std::vector<std::pair<std::string, double>> sale;
    for (const BookingPosition& position : reg.CurrentSale().Positions())
      sale.emplace_back(position.name, position.qnt);
    return sale;
  };
  EXPECT_NE(names(app.Reg()), names(batch));
}

TEST(MainWindowIcon, EveryWindowShowsTheRegistersIconInTheSizesADesktopAsks) {
  testing::EnsureApp();
  WindowOptions window;
  window.reg.home = testing::FreshHome();
  window.card = [] { return testing::UserSimCard(); };
  RegisterApp app(window);
  app.Start();
  const QList<QSize> sizes = QGuiApplication::windowIcon().availableSizes();
  for (const int size : {48, 128, 256})
    EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
}

TEST(MainWindowDebug, TheEntryTogglesTheConsoleWithItsCheckMark) {
  Till till;
  QAction* debug = till.window->Actions().debug;
  DebugConsole* console = till.window->Tools().debug;
  ASSERT_TRUE(debug->isCheckable());
  debug->trigger();
  EXPECT_TRUE(console->isVisible());
  EXPECT_TRUE(debug->isChecked());
  debug->trigger();
  EXPECT_FALSE(console->isVisible());
  EXPECT_FALSE(debug->isChecked());
  debug->trigger();
  console->close();  // closing the console clears the mark too
  EXPECT_FALSE(debug->isChecked());
}

TEST(MainWindowScanner, OpensBesideTheMainWindowInsideTheScreenWithLanguageText75) {
  Till till;
  const QRect screen = till.window->screen()->availableGeometry();
  // The window as wide as the screen: beside it there is no room, so the scanner is moved back
  // inside the screen (ScannerGeometry tests the place beside a smaller one).
  till.window->move(screen.topLeft());
  till.window->resize(screen.size());
  till.window->Actions().scanner->trigger();
  ScannerWindow* scanner = till.window->Tools().scanner;
  ASSERT_TRUE(scanner->isVisible());
  const QRect main = till.window->frameGeometry();
  EXPECT_EQ(scanner->pos(), ScannerWindowPlace(main, scanner->frameGeometry().size(), screen));
  EXPECT_TRUE(screen.contains(scanner->frameGeometry())) << scanner->frameGeometry().x();
  EXPECT_GT(scanner->frameGeometry().left(), main.left());
  EXPECT_EQ(ToCore(scanner->MemoText()), till.reg->Texts().LangText(75));
  EXPECT_TRUE(scanner->Armed());
  scanner->close();
}

TEST(MainWindowCard, TheStatusSheetIsShownAlsoWhenTheStatusCannotBeRead) {
  Till till;
  const std::string tpId = till.reg->Card().State().TpId;
  ASSERT_FALSE(tpId.empty());
  till.card->Reader().RemoveCard();
  for (int i = 0; i < 250 && !till.reg->Card().Failed(); ++i) {
    till.reg->ProcessCardEvents();
    QTest::qWait(20);
  }
  ASSERT_TRUE(till.reg->Card().Failed());
  till.window->Actions().status->trigger();
  const Language& texts = till.reg->Texts();
  EXPECT_TRUE(till.ReceiptHas("\t  " + texts.LangText(60)));
  EXPECT_TRUE(till.ReceiptHas(texts.LangText(42) + "\t\t" + tpId));
  EXPECT_EQ(ToCore(till.window->LastProblem()), Text(till, msg::kStatusUnreadable));
  EXPECT_TRUE(till.SaleNow().NoSaleOpen());
}

}  // namespace
}  // namespace kasse
