// The controller's rules around a sale: the mass generator, the booked months beside an open
// sale, the security elements of the receipt, and what a refused cash-in leaves.

#include <gtest/gtest.h>

#include <atomic>

#include "common/message_text.h"
#include "common/tests/support/test_folders.h"
#include "register/messages.h"
#include "register/register.h"
#include "register/tests/scripted_card.h"
#include "register/tests/sim_card.h"

namespace kasse {
namespace {

struct StartedRegister : ::testing::Test {
  StartedRegister() {
    RegisterOptions options;
    options.home = testing::FreshHome();
    // A card of this test's own, which refuses sales once deactivated.
    reg = std::make_unique<Register>(options, testing::SimCard(options.home / "card.state"));
    started = static_cast<bool>(reg->Start());
  }
  void EmptyTheProductList() {
    while (reg->EditProducts().Remove(0)) {
    }
  }
  std::unique_ptr<Register> reg;
  bool started = false;
};

using MassGenerator = StartedRegister;
using SaleRules = StartedRegister;

TEST_F(MassGenerator, AnEmptyProductListGivesEmptySignedSales) {
  ASSERT_TRUE(started);
  EmptyTheProductList();
  Register::MassOptions options;
  options.transactions = 3;
  options.maxPositions = 2;
  const Result<int> run = reg->MassTransactions(options, nullptr, {});
  ASSERT_TRUE(run) << run.error().English();
  EXPECT_EQ(*run, 3);
  EXPECT_FALSE(reg->LastVerifyUrl().empty());
  EXPECT_TRUE(reg->CurrentSale().NoSaleOpen());
}

TEST_F(MassGenerator, RefusedSalesAreCountedAndTheRunGoesOn) {
  ASSERT_TRUE(started);
  ASSERT_TRUE(reg->Deactivate());
  Register::MassOptions options;
  options.transactions = 3;
  options.maxPositions = 2;
  int refused = -1;
  const Result<int> run =
      reg->MassTransactions(options, nullptr, [&refused](int, int, int r) { refused = r; });
  ASSERT_TRUE(run) << run.error().English();
  EXPECT_EQ(*run, 3);
  EXPECT_EQ(refused, 3);
  EXPECT_FALSE(reg->Card().Failed());
}

TEST_F(MassGenerator, FieldsAreReadAtEachUseAndStopEndsAfterThePosition) {
  ASSERT_TRUE(started);
  Register::MassOptions options;
  options.transactions = 4;
  options.maxPositions = 1;
  options.maxQuantity = 5;
  options.stornoChance = 0;
  std::atomic<bool> stop{false};
  int sales = 0;
  int pollsInSecondSale = 0;
  options.poll = [&](Register::MassOptions& current) -> Result<void> {
    // Changed fields count at once; the number of sales was read at the start.
    current.maxQuantity = 1;
    current.maxPositions = 60;
    current.transactions = 1;
    // Before the second sale, then after its first position: Stop ends the run there.
    if (sales == 1 && ++pollsInSecondSale == 2) stop = true;
    return {};
  };
  const Result<int> run =
      reg->MassTransactions(options, &stop, [&sales](int done, int, int) { sales = done; });
  ASSERT_TRUE(run) << run.error().English();
  EXPECT_EQ(*run, 2);
  const auto& positions = reg->CurrentSale().Positions();
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions[0].qnt, 1.0);
}

TEST_F(MassGenerator, AFieldThatBecomesUnusableEndsTheRun) {
  ASSERT_TRUE(started);
  Register::MassOptions options;
  options.transactions = 2;
  options.poll = [](Register::MassOptions&) -> Result<void> {
    return MakeError(ErrorKind::kUnusableInput, msg::kMassFieldsWhole);
  };
  const Result<int> run = reg->MassTransactions(options, nullptr, {});
  ASSERT_FALSE(run);
  EXPECT_TRUE(run.error().Is(msg::kMassFieldsWhole));
}

TEST_F(SaleRules, ReadingTheBookedMonthsLeavesAnOpenSaleAlone) {
  ASSERT_TRUE(started);
  ASSERT_TRUE(reg->BookProduct(0, ""));
  const std::string receipt = reg->CurrentSale().ReceiptText();
  // A fresh card may answer months the register refuses; the sale stays either way.
  (void)reg->ReportMonths();
  EXPECT_EQ(reg->CurrentSale().ReceiptText(), receipt);
  EXPECT_FALSE(reg->CurrentSale().NoSaleOpen());
  ASSERT_TRUE(reg->Summe());
  EXPECT_TRUE(reg->Kassieren());
}

TEST_F(SaleRules, OneOfTextAndQrCodeStaysOn) {
  ASSERT_TRUE(reg->SetSwitch(Register::Switch::kSecurityText, false));
  ASSERT_TRUE(reg->SetSwitch(Register::Switch::kQrCode, false));
  EXPECT_TRUE(reg->CurrentSale().settings.showSecurityText);
  EXPECT_FALSE(reg->CurrentSale().settings.showQrCode);
  ASSERT_TRUE(reg->SetSwitch(Register::Switch::kSecurityText, false));
  EXPECT_TRUE(reg->CurrentSale().settings.showQrCode);
  EXPECT_FALSE(reg->CurrentSale().settings.showSecurityText);
  ASSERT_TRUE(reg->SetSwitch(Register::Switch::kSecurityText, true));
  EXPECT_TRUE(reg->CurrentSale().settings.showQrCode);
}

TEST_F(SaleRules, ARefusedSaleEndsWithoutTheLinesOfAQrCode) {
  ASSERT_TRUE(started);
  ASSERT_TRUE(reg->Deactivate());
  ASSERT_TRUE(reg->BookProduct(0, ""));
  ASSERT_TRUE(reg->Summe());
  const Result<void> cashed = reg->Kassieren();
  ASSERT_FALSE(cashed);
  EXPECT_EQ(cashed.error().kind, ErrorKind::kCard);
  EXPECT_TRUE(reg->LastVerifyUrl().empty());
  EXPECT_FALSE(reg->CurrentSale().QrFirstLine().has_value());
  EXPECT_FALSE(reg->CurrentSale().ReceiptLines().back().empty());
}

TEST_F(SaleRules, TheTaxModeIsRefusedDuringASaleWithTheReason) {
  ASSERT_TRUE(started);
  ASSERT_TRUE(reg->BookProduct(0, ""));
  const Result<void> refused =
      reg->SetSwitch(Register::Switch::kExclusiveTax, !reg->Config().exclusiveTax);
  ASSERT_FALSE(refused);
  EXPECT_TRUE(refused.error().Is(msg::kTaxModeDuringSale));
  EXPECT_NE(OperatorText(reg->Texts().Texts(), refused.error()).find("erst kassieren"),
            std::string::npos);
}

}  // namespace
}  // namespace kasse

namespace kasse {
namespace {

TEST(MassRun, ACardThatGoesEndsTheRun) {
  RegisterOptions registerOptions;
  registerOptions.home = testing::FreshHome();
  auto card = std::make_unique<testing::ScriptedCard>();
  testing::ScriptedCard& scripted = *card;
  Register reg(registerOptions, std::move(card));
  ASSERT_TRUE(reg.Start());
  Register::MassOptions options;
  options.transactions = 5;
  options.maxPositions = 1;
  int sales = 0;
  options.poll = [&](Register::MassOptions&) -> Result<void> {
    if (sales == 2) scripted.SetPresent(false);
    return {};
  };
  int refused = -1;
  const Result<int> run =
      reg.MassTransactions(options, nullptr, [&sales, &refused](int done, int, int r) {
        sales = done;
        refused = r;
      });
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error().kind, ErrorKind::kCard);
  EXPECT_TRUE(reg.Card().Failed());
  // The operator reads what happened, not just that the card failed.
  ASSERT_TRUE(reg.Card().Failure());
  EXPECT_EQ(reg.Card().Failure()->English(), "the QOR card was removed");
  EXPECT_EQ(sales, 2);
  EXPECT_EQ(refused, 0);
}

}  // namespace
}  // namespace kasse
