// Ringing up sales in the main window by keyboard and mouse, over the embedded card.

#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>

#include "picture/qr_decode.h"
#include "ui/main_window.h"
#include "ui/receipt_view.h"
#include "ui/special_position_editor.h"
#include "ui/tests/main_window_fixture.h"

namespace kasse {
namespace {

using testing::Till;

std::optional<std::size_t> LineOfPosition(const Sale& sale, std::size_t position) {
  for (std::size_t line = 0; line < sale.ReceiptLines().size(); ++line) {
    const LineOwner owner = sale.OwnerOfLine(line);
    if (owner.kind == LineOwner::Kind::kPosition && owner.position == position) return line;
  }
  return std::nullopt;
}

void PutCaret(ReceiptView& receipt, std::size_t line) {
  receipt.setTextCursor(QTextCursor(receipt.document()->findBlockByNumber(int(line))));
}

TEST(MainWindowKeys, ListKeysBookTotalAndCashInWithTheQrCodeUnderTheReceipt) {
  Till till;
  ASSERT_TRUE(till.started);
  QListWidget* list = till.List();
  list->setFocus();
  list->setCurrentRow(2);
  // The first digit replaces the default "1"; the next one is appended.
  till.Type(list, QStringLiteral("25"));
  EXPECT_EQ(till.window->Products()->Quantity()->text(), QStringLiteral("25"));
  till.Key(list, Qt::Key_Insert);
  ASSERT_EQ(till.SaleNow().Positions().size(), 1u);
  EXPECT_EQ(till.SaleNow().Positions()[0].name, till.Product(2).name);
  EXPECT_DOUBLE_EQ(till.SaleNow().Positions()[0].qnt, 25.0);
  EXPECT_TRUE(till.window->SummeButton()->isEnabled());

  list->setCurrentRow(0);
  till.Key(list, Qt::Key_Space, QStringLiteral(" "));
  ASSERT_EQ(till.SaleNow().Positions().size(), 2u);
  EXPECT_DOUBLE_EQ(till.SaleNow().Positions()[1].qnt, 1.0);

  // One Enter totals the sale and cashes it in at once.
  till.Key(list, Qt::Key_Return, QStringLiteral("\r"));
  EXPECT_TRUE(till.window->LastProblem().isEmpty()) << till.window->LastProblem().toStdString();
  EXPECT_TRUE(till.SaleNow().NoSaleOpen());
  const std::string& url = till.reg->LastVerifyUrl();
  ASSERT_FALSE(url.empty());
  EXPECT_TRUE(till.ReceiptHas(till.reg->Card().State().TpId));
  ReceiptView* receipt = till.window->Receipt();
  ASSERT_TRUE(receipt->CodeVisible());
  const Result<std::string> read = DecodeQrPicture(receipt->ShownCode());
  EXPECT_EQ(read ? *read : std::string(), url);
  EXPECT_FALSE(till.window->KassierenButton()->isEnabled());
}

// The window has no poll: what changes behind its back (a mass run, a card event, another
// window) reaches it through the register's change notice.
TEST(MainWindowRefresh, ASaleBookedBehindTheWindowsBackIsShownAfterTheNotice) {
  Till till;
  ASSERT_TRUE(till.started);
  QApplication::processEvents();
  ASSERT_FALSE(till.window->SummeButton()->isEnabled());
  ASSERT_TRUE(till.reg->BookProduct(0, ""));
  EXPECT_TRUE(QTest::qWaitFor([&] { return till.window->SummeButton()->isEnabled(); }, 5000));
  ASSERT_TRUE(till.reg->Summe());
  EXPECT_TRUE(QTest::qWaitFor([&] { return till.window->KassierenButton()->isEnabled(); }, 5000));
  EXPECT_FALSE(till.window->SummeButton()->isEnabled());
}

TEST(MainWindowKeys, PlusAndMinusBookSurchargeAndDiscountOfTheLastPosition) {
  Till till;
  QListWidget* list = till.List();
  list->setFocus();
  till.Key(list, Qt::Key_Insert);
  ASSERT_TRUE(till.window->DiscountBox()->isVisibleTo(till.window.get()));
  const std::int64_t before = till.SaleNow().SaleTotal();
  till.window->PercentField()->setText(QStringLiteral("10"));
  till.Key(list, Qt::Key_Minus, QStringLiteral("-"));
  EXPECT_TRUE(till.window->LastProblem().isEmpty()) << till.window->LastProblem().toStdString();
  EXPECT_LT(till.SaleNow().SaleTotal(), before);
  till.Key(list, Qt::Key_Insert);
  const std::int64_t again = till.SaleNow().SaleTotal();
  till.Key(list, Qt::Key_Plus, QStringLiteral("+"));
  EXPECT_GT(till.SaleNow().SaleTotal(), again);
}

TEST(MainWindowKeys, EscapeAbortsAndDeleteCancelsThePositionAtTheCaret) {
  Till till;
  QListWidget* list = till.List();
  list->setFocus();
  list->setCurrentRow(0);
  till.Key(list, Qt::Key_Insert);
  list->setCurrentRow(1);
  till.Key(list, Qt::Key_Insert);
  const auto first = LineOfPosition(till.SaleNow(), 0);
  ASSERT_TRUE(first.has_value());
  PutCaret(*till.window->Receipt(), *first);
  const std::size_t lines = till.SaleNow().ReceiptLines().size();
  till.Key(list, Qt::Key_Delete);
  ASSERT_EQ(till.SaleNow().ReceiptLines().size(), lines + 1);
  EXPECT_EQ(till.SaleNow().ReceiptLines().back().substr(0, 8), till.Product(0).name.substr(0, 8));
  // The first product is taken back, not the last one booked.
  EXPECT_EQ(till.SaleNow().SaleTotal(), till.Product(1).UnitPrice());

  till.Key(list, Qt::Key_Escape);
  EXPECT_TRUE(till.SaleNow().NoSaleOpen());
  EXPECT_TRUE(till.ReceiptHas("###" + till.reg->Texts().LangText(11) + "###"));
  EXPECT_FALSE(till.window->SummeButton()->isEnabled());
  EXPECT_FALSE(till.window->AbbruchButton()->isEnabled());
  EXPECT_FALSE(till.window->KassierenButton()->isEnabled());
  EXPECT_TRUE(till.reg->LastVerifyUrl().empty());
}

TEST(MainWindowKeys, QuantityFieldTakesMainKeyboardDigitsAndOneCommaOnly) {
  Till till;
  QLineEdit* quantity = till.window->Products()->Quantity();
  quantity->setFocus();
  quantity->clear();
  QTest::keyClick(quantity, Qt::Key_7, Qt::KeypadModifier);
  till.Type(quantity, QStringLiteral("2,5,x"));
  EXPECT_EQ(quantity->text(), QStringLiteral("2,5"));
  till.Key(quantity, Qt::Key_Insert);
  ASSERT_EQ(till.SaleNow().Positions().size(), 1u);
  EXPECT_DOUBLE_EQ(till.SaleNow().Positions()[0].qnt, 2.5);
  // Enter in the field totals once: the sale waits for Kassieren.
  till.Key(quantity, Qt::Key_Return, QStringLiteral("\r"));
  EXPECT_TRUE(till.window->KassierenButton()->isEnabled());
  EXPECT_FALSE(till.SaleNow().NoSaleOpen());
}

TEST(MainWindowMouse, HoverSelectsUnlessSweptSidewaysAndAClickBooks) {
  Till till;
  ASSERT_TRUE(till.window->isActiveWindow());
  QListWidget* list = till.List();
  ASSERT_GE(list->count(), 5);
  till.MoveOverRow(1, 30);
  EXPECT_EQ(list->currentRow(), 1);
  till.MoveOverRow(3, 60);  // 30 pixels sideways: a sweep, not a choice
  EXPECT_EQ(list->currentRow(), 1);
  till.MoveOverRow(4, 65);
  EXPECT_EQ(list->currentRow(), 4);
  EXPECT_EQ(till.window->Products()->Price()->text(), QString::number(till.Product(4).UnitPrice()));

  // After a pointer selection the first digit replaces the "1".
  till.Type(list, QStringLiteral("2"));
  EXPECT_EQ(till.window->Products()->Quantity()->text(), QStringLiteral("2"));
  const QPoint row = list->visualItemRect(list->item(4)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(65, row.y()));
  ASSERT_EQ(till.SaleNow().Positions().size(), 1u);
  EXPECT_EQ(till.SaleNow().Positions()[0].name, till.Product(4).name);
  EXPECT_DOUBLE_EQ(till.SaleNow().Positions()[0].qnt, 2.0);
}

TEST(MainWindowEditor, SpecialPositionIsBookedListedAndShownAgainFromTheReceipt) {
  Till till;
  till.window->Actions().editor->trigger();
  SpecialPositionEditor* editor = till.window->Editor();
  ASSERT_TRUE(editor->isVisibleTo(till.window.get()));
  // With every group shown the window still fits a 1366 x 768 screen.
  EXPECT_LE(till.window->minimumSizeHint().width(), 1366);
  EXPECT_LE(till.window->minimumSizeHint().height(), 740);
  editor->NameField()->setText(QStringLiteral("Brot"));
  editor->PriceField(2)->setText(QStringLiteral("250"));
  QLineEdit* quantity = editor->QuantityField();
  quantity->clear();
  till.Type(quantity, QStringLiteral("3a,5,"));
  EXPECT_EQ(quantity->text(), QStringLiteral("3,5"));
  QTest::mouseClick(editor->AddButton(), Qt::LeftButton);
  ASSERT_EQ(till.SaleNow().Positions().size(), 1u);
  const TProd& brot = till.SaleNow().Positions()[0];
  EXPECT_EQ(brot.name, "Brot");
  EXPECT_EQ(brot.price[1], 250);
  EXPECT_DOUBLE_EQ(brot.qnt, 3.5);

  // "-" always starts the number; "+" in a price field books the position again.
  till.Type(quantity, QStringLiteral("7-2"));
  EXPECT_EQ(quantity->text(), QStringLiteral("-2"));
  quantity->setText(QStringLiteral("1"));
  till.Type(editor->PriceField(2), QStringLiteral("+"));
  EXPECT_EQ(till.SaleNow().Positions().size(), 2u);

  const int entries = till.List()->count();
  QTest::mouseClick(editor->ToListButton(), Qt::LeftButton);
  ASSERT_EQ(till.List()->count(), entries + 1);
  EXPECT_EQ(till.List()->item(entries)->text(), QStringLiteral("Brot"));

  // A click on a position line of the receipt loads it into the editor.
  editor->NameField()->clear();
  ReceiptView* receipt = till.window->Receipt();
  const auto line = LineOfPosition(till.SaleNow(), 0);
  ASSERT_TRUE(line.has_value());
  PutCaret(*receipt, *line);
  const QPoint at = receipt->cursorRect().center();
  QTest::mouseClick(receipt->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(editor->NameField()->text(), QStringLiteral("Brot"));
  EXPECT_EQ(editor->QuantityField()->text(), QStringLiteral("3,5"));
}

}  // namespace
}  // namespace kasse
