#include <gtest/gtest.h>

#include <cmath>

#include "common/hex_text.h"
#include "register/receipt_lines.h"
#include "register/tests/sale_fixture.h"

namespace kasse {
namespace {

using sale_test::Product;
using SaleBooking = sale_test::SaleFixture;

TEST_F(SaleBooking, FirstBookingStartsANewReceipt) {
  sale.AppendText("old receipt");
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  ASSERT_EQ(LineCount(), 2u);
  EXPECT_EQ(Line(0), std::string(13, ' ') + "KASSENBON");
  EXPECT_EQ(Line(1).substr(0, 25), "Brot" + std::string(21, ' '));
  EXPECT_EQ(Line(1).substr(25, 3), " A ");
  EXPECT_EQ(Line(1).substr(35), " 2,50\x80 ");
  EXPECT_EQ(Line(1).size(), 42u);
  EXPECT_EQ(sale.OwnerOfLine(1).kind, LineOwner::Kind::kPosition);
  EXPECT_EQ(sale.ReceiptColour(), 0xD3FEFEu);
}

TEST_F(SaleBooking, UnitAndFractionalQuantityGiveTwoLines) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 300, 1.0, "kg")));
  EXPECT_TRUE(Line(1).starts_with("Brot 1kg "));
  ASSERT_TRUE(sale.BookPosition(Product("Kartoffeln", 199, 2.5, "kg")));
  ASSERT_EQ(LineCount(), 4u);
  EXPECT_EQ(Line(2), PositionLine("Kartoffeln", "", ""));
  EXPECT_EQ(Line(3), PositionLine(" 2,5 kg x  1,99\x80 = ", " A ", " 4,98\x80"));
  EXPECT_EQ(sale.OwnerOfLine(3).kind, LineOwner::Kind::kContinuationMark);
  EXPECT_TRUE(
      itemList.ItemListText().ends_with("<qnt>2.5</qnt><unit>kg</unit>"
                                        "<name>Kartoffeln</name><price1>498</price1></item>"));
}

TEST_F(SaleBooking, DiscountRefersToTheWholeLastPosition) {
  ASSERT_TRUE(sale.BookPosition(Product("Kartoffeln", 199, 2.5, "kg")));
  ASSERT_TRUE(sale.ApplyPercentage(PercentSign::kDiscount, "5"));
  EXPECT_EQ(LastLine(), PositionLine("Rabatt 1kg", " A ", "-0,25\x80"));
  const BookingPosition& discount = sale.Positions().back();
  EXPECT_EQ(discount.price[0], -25);
  EXPECT_TRUE(discount.discountSurcharge);
  EXPECT_EQ(sale.LastPosition(), nullptr);
  EXPECT_FALSE(sale.DiscountBoxVisible());
  EXPECT_TRUE(sale.StornoVisible());
  EXPECT_DOUBLE_EQ(containers[1].turnover, 498 - 25);
  EXPECT_DOUBLE_EQ(containers[1].turnoverNeg, 25);
  // No second discount on a discount.
  const std::size_t lines = LineCount();
  ASSERT_TRUE(sale.ApplyPercentage(PercentSign::kDiscount, "5"));
  EXPECT_EQ(LineCount(), lines);
}

TEST_F(SaleBooking, SurchargeAddsPercentOfEveryContainer) {
  BookingPosition mixed = Product("Korb", 0);
  mixed.price[1] = 1000;
  mixed.price[3] = 30;
  ASSERT_TRUE(sale.BookPosition(mixed));
  ASSERT_TRUE(sale.ApplyPercentage(PercentSign::kSurcharge, "10"));
  const BookingPosition& surcharge = sale.Positions().back();
  EXPECT_EQ(surcharge.name, "Aufschlag");
  EXPECT_EQ(surcharge.price[1], 100);
  EXPECT_EQ(surcharge.price[3], 3);
  EXPECT_EQ(LastLine(), PositionLine("Aufschlag", " BD ", " 1,03\x80"));
}

TEST_F(SaleBooking, PercentageThatIsNotANumberBooksNothing) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  const std::string before = sale.ReceiptText();
  for (const char* bad : {"", "x", "5%", "100", "-5"})
    EXPECT_FALSE(sale.ApplyPercentage(PercentSign::kDiscount, bad));
  EXPECT_EQ(sale.ReceiptText(), before);
  EXPECT_NE(sale.LastPosition(), nullptr);
}

TEST_F(SaleBooking, CancellationBooksNegatedLinesAndAmounts) {
  ASSERT_TRUE(sale.BookPosition(Product("Milch", 100, 3.0)));
  const Bytes before = itemList.ItemListBytes();
  ASSERT_TRUE(sale.CancelPosition(2));  // caret on the continuation line
  ASSERT_EQ(LineCount(), 5u);
  EXPECT_EQ(Line(3), PositionLine("Milch", "", ""));
  EXPECT_EQ(Line(4), PositionLine(" 3 x  1,00\x80 = ", " A ", "-3,00\x80"));
  EXPECT_EQ(sale.OwnerOfLine(3).kind, LineOwner::Kind::kNone);
  const Bytes added(itemList.ItemListBytes().begin() + static_cast<long>(before.size()),
                    itemList.ItemListBytes().end());
  EXPECT_EQ(HexWritten(added), "A0 01 33 A2 05 6D 69 6C 63 68 B1 02 30 0D");
  EXPECT_DOUBLE_EQ(containers[1].turnover, 0);
  EXPECT_DOUBLE_EQ(containers[1].turnoverNeg, 300);
  EXPECT_FALSE(sale.StornoVisible());
  EXPECT_NE(sale.LastPosition(), nullptr);
  EXPECT_EQ(sale.State(), SaleState::kOpen);
}

TEST_F(SaleBooking, CancellationOfSingleLineAndCaretPastTheEnd) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250, 1.0, "kg")));
  ASSERT_TRUE(sale.CancelPosition(99));
  EXPECT_EQ(LastLine(), PositionLine("Brot", " A ", "-2,50\x80"));
  // The same position may be cancelled again.
  ASSERT_TRUE(sale.CancelPosition(1));
  EXPECT_EQ(LineCount(), 4u);
}

TEST_F(SaleBooking, CancellingLinesWithoutPositionDoesNothing) {
  ASSERT_TRUE(sale.CancelPosition(0));  // empty receipt: header only
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  ASSERT_TRUE(sale.CancelPosition(1));
  const std::string before = sale.ReceiptText();
  ASSERT_TRUE(sale.CancelPosition(0));  // header
  ASSERT_TRUE(sale.CancelPosition(2));  // cancellation line
  ASSERT_TRUE(sale.TotalSale());
  ASSERT_TRUE(sale.CancelPosition(LineCount() - 2));  // sum line
  EXPECT_EQ(sale.ReceiptText().substr(0, before.size()), before);
  EXPECT_EQ(LineCount(), 6u);
}

TEST_F(SaleBooking, AmountsTextsOfAgencyAndDeliveryNotePositions) {
  BookingPosition agency = Product("Los", 500);
  agency.thirdparty = true;
  agency.price[1] = 100;
  agency.price[6] = 7777;  // carried along, never an amount
  ASSERT_TRUE(sale.BookPosition(agency));
  EXPECT_DOUBLE_EQ(containers[7].turnover, 600);
  EXPECT_DOUBLE_EQ(containers[1].turnoverThirdParty, 500);
  EXPECT_DOUBLE_EQ(containers[2].turnoverThirdParty, 100);
  BookingPosition note = Product("Lieferung", 1000, 2.0);
  note.deliverynote = true;
  ASSERT_TRUE(sale.BookPosition(note));
  EXPECT_DOUBLE_EQ(containers[8].turnover, 2000);
  EXPECT_DOUBLE_EQ(containers[7].turnover, 600);
}

TEST_F(SaleBooking, UnusableQuantitiesAndAmountsAreRefused) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  const std::string before = sale.ReceiptText();
  const Bytes items = itemList.ItemListBytes();
  EXPECT_FALSE(sale.BookPosition(Product("X", 100, std::nan(""))));
  EXPECT_FALSE(sale.BookPosition(Product("X", 100, 1e300)));
  EXPECT_FALSE(sale.BookPosition(Product("X", 2000000000, 2.0)));
  EXPECT_FALSE(sale.BookPosition(Product("X", 1, -1.23456789012345e20)));
  EXPECT_EQ(sale.ReceiptText(), before);
  EXPECT_EQ(itemList.ItemListBytes(), items);
}

TEST_F(SaleBooking, BookingThatWouldPassTheLineLimitIsRefused) {
  for (std::size_t i = 1; i < Sale::kMaxReceiptLines - 1; ++i)
    ASSERT_TRUE(sale.BookPosition(Product("A", 1)));
  ASSERT_EQ(LineCount(), Sale::kMaxReceiptLines - 1);
  const Result<void> two = sale.BookPosition(Product("B", 1, 2.0));
  ASSERT_FALSE(two);
  EXPECT_EQ(two.error().kind, ErrorKind::kTooLong);
  EXPECT_EQ(LineCount(), Sale::kMaxReceiptLines - 1);
  ASSERT_TRUE(sale.BookPosition(Product("C", 1)));
  EXPECT_FALSE(sale.BookPosition(Product("D", 1)));
  EXPECT_FALSE(sale.CancelPosition(1));
  EXPECT_EQ(LineCount(), Sale::kMaxReceiptLines);
  EXPECT_TRUE(sale.TotalSale());  // the sum still fits behind the positions
}

TEST_F(SaleBooking, BookingOwnPositionAgainAfterCashInIsSafe) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  ASSERT_TRUE(sale.TotalSale());
  ASSERT_TRUE(CashIn());
  // The editor may hand back a position of the finished receipt, which the new sale frees.
  ASSERT_TRUE(sale.BookPosition(*sale.PositionAtLine(1)));
  EXPECT_EQ(Line(1).substr(0, 4), "Brot");
  EXPECT_EQ(sale.Positions().size(), 1u);
}

}  // namespace
}  // namespace kasse
