#include <gtest/gtest.h>

#include "register/receipt_lines.h"
#include "register/tests/sale_fixture.h"

namespace kasse {
namespace {

using sale_test::Product;
using SaleStates = sale_test::SaleFixture;
using SaleVat = sale_test::SaleFixture;
using SaleSecurityText = sale_test::SaleFixture;

struct Buttons {
  bool summe, abbruch, kassieren;
  bool operator==(const Buttons&) const = default;
};

Buttons ButtonsOf(const Sale& sale) {
  return {sale.SummeEnabled(), sale.AbbruchEnabled(), sale.KassierenEnabled()};
}

TEST_F(SaleStates, BookingTotallingAndCashingIn) {
  EXPECT_EQ(sale.State(), SaleState::kIdle);
  EXPECT_EQ(ButtonsOf(sale), (Buttons{false, false, false}));
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  EXPECT_EQ(sale.State(), SaleState::kOpen);
  EXPECT_EQ(ButtonsOf(sale), (Buttons{true, true, false}));
  EXPECT_TRUE(sale.StornoVisible() && sale.DiscountBoxVisible());

  ASSERT_TRUE(sale.TotalSale());
  EXPECT_EQ(sale.State(), SaleState::kTotalled);
  EXPECT_EQ(ButtonsOf(sale), (Buttons{false, true, true}));
  EXPECT_FALSE(sale.StornoVisible() || sale.DiscountBoxVisible());
  EXPECT_EQ(Line(2), std::string(41, '_'));
  EXPECT_EQ(Line(3), PositionLine("Summe", " ", " 2,50\x80"));
  EXPECT_EQ(Line(4), " ");

  // A booking after Summe reopens the sale; it needs Summe again.
  ASSERT_TRUE(sale.BookPosition(Product("Milch", 99)));
  EXPECT_EQ(ButtonsOf(sale), (Buttons{true, true, false}));
  EXPECT_FALSE(CashIn());
  EXPECT_EQ(cashIn.transactions, 0);
  ASSERT_TRUE(sale.TotalSale());
  EXPECT_EQ(LastLine(), " ");
  // A second total writes nothing: cashing in is the register's step.
  const std::size_t totalled = LineCount();
  ASSERT_TRUE(sale.TotalSale());
  EXPECT_EQ(LineCount(), totalled);
  ASSERT_TRUE(CashIn());
  EXPECT_EQ(cashIn.transactions, 1);
  EXPECT_EQ(sale.State(), SaleState::kIdle);
  EXPECT_EQ(ButtonsOf(sale), (Buttons{false, false, false}));
  // Summe on a finished receipt writes nothing.
  const std::size_t lines = LineCount();
  ASSERT_TRUE(sale.TotalSale());
  EXPECT_EQ(LineCount(), lines);
  EXPECT_EQ(cashIn.transactions, 1);
}

TEST_F(SaleStates, CashInWritesTableResponseAndQrLines) {
  sale.settings.trainingMode = true;
  config.exclusiveTax = true;
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  ASSERT_TRUE(sale.TotalSale());
  const std::size_t before = LineCount();
  ASSERT_TRUE(CashIn());
  EXPECT_TRUE(cashIn.lastTraining);
  EXPECT_TRUE(cashIn.lastExclusive);
  EXPECT_TRUE(sale.settings.trainingMode);
  EXPECT_EQ(Line(before), FourColumnLine("Satz", " Brutto", " Netto", " MwSt"));
  EXPECT_TRUE(Line(before + 1).starts_with("A  19.0 "));
  EXPECT_EQ(Line(before + 2), " ");
  EXPECT_EQ(Line(before + 3), "");  // the response block starts with a line break
  EXPECT_EQ(Line(before + 4), "Datum: \t\t2026-05-12");
  ASSERT_TRUE(sale.QrFirstLine());
  EXPECT_EQ(*sale.QrFirstLine(), before + 5);
  EXPECT_EQ(LineCount(), before + 10);
  // Containers and item list are empty for the next sale; the receipt stays.
  EXPECT_DOUBLE_EQ(containers[1].turnover, 0);
  EXPECT_EQ(itemList.ItemListText(), "<itemList>");
  EXPECT_NE(sale.PositionAtLine(1), nullptr);
}

TEST_F(SaleStates, TrimmingForTheRawPrintTakesTheQrRoomButNeverCutsBelowTwoLines) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  ASSERT_TRUE(sale.TotalSale());
  ASSERT_TRUE(CashIn());
  ASSERT_TRUE(sale.QrFirstLine());
  const std::size_t text = *sale.QrFirstLine();
  ASSERT_EQ(LineCount(), text + 5);
  sale.TrimEmptyLastLines();
  EXPECT_EQ(LineCount(), text);
  EXPECT_FALSE(LastLine().empty());
  EXPECT_EQ(sale.QrFirstLine(), text);  // the code stays, under the last line
  EXPECT_EQ(sale.OwnerOfLine(text).kind, LineOwner::Kind::kNone);
  sale.TrimEmptyLastLines();
  EXPECT_EQ(LineCount(), text);  // nothing more to take
  // The header and empty lines only: a receipt is never cut below two lines.
  sale.ResetReceipt();
  sale.AppendQrSpace();
  sale.TrimEmptyLastLines();
  ASSERT_EQ(LineCount(), 2u);
  EXPECT_EQ(LastLine(), "");
  EXPECT_EQ(sale.QrFirstLine(), 1u);
}

TEST_F(SaleStates, ACancelledCashInLeavesTheSaleTotalledAndAHeldNoticeGoesAgain) {
  sale.settings.showQrCode = false;
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  ASSERT_TRUE(sale.TotalSale());
  const std::vector<std::string> totalled = sale.ReceiptLines();
  ASSERT_TRUE(sale.BeginCashIn());
  sale.CancelCashIn();
  EXPECT_EQ(sale.ReceiptLines(), totalled);
  EXPECT_EQ(sale.State(), SaleState::kTotalled);
  ASSERT_TRUE(CashIn());
  EXPECT_FALSE(sale.QrFirstLine());
  // The notice of a held receipt is the last line until the answer may be shown.
  const std::size_t lines = LineCount();
  sale.SetHeldNotice("### held ###");
  EXPECT_EQ(LastLine(), "### held ###");
  sale.ClearHeldNotice();
  EXPECT_EQ(LineCount(), lines);
}

TEST_F(SaleStates, AbortWritesTheAbortTextAndEndsTheSale) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  sale.AbortSale();
  EXPECT_EQ(Line(LineCount() - 2), " ");
  EXPECT_EQ(LastLine(), "###Abbruch###");
  EXPECT_EQ(ButtonsOf(sale), (Buttons{false, false, false}));
  EXPECT_EQ(cashIn.transactions, 0);
  EXPECT_DOUBLE_EQ(containers[1].turnover, 0);
  // Escape on a finished receipt adds nothing.
  const std::size_t lines = LineCount();
  sale.AbortSale();
  EXPECT_EQ(LineCount(), lines);
}

TEST_F(SaleStates, LeavingTheSaleDisablesEveryButton) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  ASSERT_TRUE(sale.TotalSale());
  sale.LeaveSale();
  EXPECT_EQ(sale.State(), SaleState::kIdle);
  EXPECT_EQ(ButtonsOf(sale), (Buttons{false, false, false}));
  EXPECT_EQ(LineCount(), 1u);
  EXPECT_DOUBLE_EQ(containers[1].turnover, 0);
}

TEST_F(SaleStates, CancellationAfterCashInIsDiscardedWithTheReceipt) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 250)));
  ASSERT_TRUE(sale.TotalSale());
  ASSERT_TRUE(CashIn());
  const std::size_t lines = LineCount();
  ASSERT_TRUE(sale.CancelPosition(1));
  EXPECT_EQ(LineCount(), lines + 1);
  EXPECT_EQ(sale.State(), SaleState::kIdle);
  ASSERT_TRUE(sale.BookPosition(Product("Milch", 99)));
  EXPECT_EQ(LineCount(), 2u);
  EXPECT_DOUBLE_EQ(containers[1].turnover, 99);
  EXPECT_DOUBLE_EQ(containers[1].turnoverNeg, 0);
}

TEST_F(SaleVat, InclusiveTableAndTotal) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 119)));
  BookingPosition free = Product("Zeitung", 0);
  free.price[3] = 250;
  ASSERT_TRUE(sale.BookPosition(free));
  EXPECT_EQ(sale.SaleTotal(), 369);
  EXPECT_EQ(sale.VatTableLine(1, false),
            FourColumnLine("A  19.0", " 1,19\x80", " 1,00\x80", " 0,19\x80"));
  EXPECT_TRUE(sale.VatTableLine(4, false).starts_with("D  0.00 "));
  EXPECT_EQ(sale.VatTableLine(2, false), "");
  EXPECT_EQ(sale.VatTableLine(0, false), "");
  EXPECT_EQ(sale.VatTableLine(9, false), "");
}

TEST_F(SaleVat, ExclusiveTableAddsTaxButSumShowsNet) {
  config.exclusiveTax = true;
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 100)));
  ASSERT_TRUE(sale.TotalSale());
  EXPECT_EQ(Line(3), PositionLine("Summe", " ", " 1,00\x80"));
  EXPECT_EQ(sale.VatTableLine(1, true),
            FourColumnLine("A  19.0", " 1,19\x80", " 1,00\x80", " 0,19\x80"));
}

// The tax of a container is rounded half away from zero, so a cancelled sale shows the
// booked one's tax negated.
TEST_F(SaleVat, TaxIsRoundedHalfAwayFromZeroForSalesAndCancellations) {
  config.exclusiveTax = true;  // 5.5% of 3,00 is 16.5 cents exactly, 19% of 0,10 is 1.9
  BookingPosition book = Product("Buch", 0);
  book.price[5] = 300;
  ASSERT_TRUE(sale.BookPosition(book));
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 10)));
  const std::string f = VatRateColumn(6, 0.055), a = VatRateColumn(1, 0.19);
  EXPECT_EQ(sale.VatTableLine(6, true), FourColumnLine(f, " 3,17\x80", " 3,00\x80", " 0,17\x80"));
  EXPECT_EQ(sale.VatTableLine(1, true), FourColumnLine(a, " 0,12\x80", " 0,10\x80", " 0,02\x80"));
  // Each cancelled twice: the containers hold the negated amounts.
  for (const std::size_t line : {1, 1, 2, 2})
    ASSERT_TRUE(sale.CancelPosition(line));
  EXPECT_EQ(sale.VatTableLine(6, true), FourColumnLine(f, "-3,17\x80", "-3,00\x80", "-0,17\x80"));
  EXPECT_EQ(sale.VatTableLine(1, true), FourColumnLine(a, "-0,12\x80", "-0,10\x80", "-0,02\x80"));
}

TEST_F(SaleVat, InclusiveTaxFractionsRoundToTheNearestCentBothWays) {
  ASSERT_TRUE(sale.BookPosition(Product("Brot", 100)));  // 15.97 cents of 1,00
  EXPECT_EQ(sale.VatTableLine(1, false),
            FourColumnLine("A  19.0", " 1,00\x80", " 0,84\x80", " 0,16\x80"));
  for (int twice = 0; twice < 2; ++twice)
    ASSERT_TRUE(sale.CancelPosition(1));
  EXPECT_EQ(sale.VatTableLine(1, false),
            FourColumnLine("A  19.0", "-1,00\x80", "-0,84\x80", "-0,16\x80"));
}

TEST_F(SaleVat, RatesComeFromTheConfigurationAtEachNewReceipt) {
  config.containerRate[4] = "1070";
  config.containerRate[0] = "1600";
  sale.ResetReceipt();
  BookingPosition position = Product("X", 1000);
  position.price[4] = 1000;
  ASSERT_TRUE(sale.BookPosition(position));
  EXPECT_TRUE(sale.VatTableLine(5, false).starts_with("E  10.7 "));
  EXPECT_TRUE(sale.VatTableLine(1, false).starts_with("A  16.0 "));
}

TEST_F(SaleSecurityText, HashTextOnlyWithTheTextMenuOrForce) {
  const Bytes hash(20, 0xFF);
  sale.AppendHashText(hash, false);
  EXPECT_EQ(LineCount(), 1u);
  sale.AppendHashText(hash, true);
  ASSERT_EQ(LineCount(), 3u);
  EXPECT_EQ(Line(1), "Hash:");
  EXPECT_EQ(Line(2), "77777-77777-77777-77777-77777-77777-77");
}

TEST_F(SaleSecurityText, SignatureTextBreaksAfterThirtyCharacters) {
  sale.settings.showSecurityText = true;
  sale.AppendSignatureText(Bytes(48, 0x00), false);
  ASSERT_EQ(LineCount(), 5u);
  EXPECT_EQ(Line(1), "Signatur:");
  EXPECT_EQ(Line(2), "AAAAA-AAAAA-AAAAA-AAAAA-AAAAA-AAAAA-");
  EXPECT_EQ(Line(3), Line(2));
  EXPECT_EQ(Line(4), "AAAAA-AAAAA-AAAAA-AA=");
}

TEST_F(SaleSecurityText, MissingSignatureIsShownWhateverTheMenu) {
  sale.AppendSignatureText({}, false);
  ASSERT_EQ(LineCount(), 2u);
  EXPECT_EQ(Line(1), "\tkeine Signatur");
  sale.AppendSignatureText(Bytes(48, 0x00), false);
  EXPECT_EQ(LineCount(), 2u);
  sale.AppendSignatureText({}, true);
  EXPECT_EQ(LastLine(), "\tkeine Signatur");
  EXPECT_EQ(Line(LineCount() - 2), "Signatur:");
}

}  // namespace
}  // namespace kasse
