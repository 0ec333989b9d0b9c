#include "protocol/item_list.h"

#include <gtest/gtest.h>

#include <utility>

#include "common/hex_text.h"
#include "common/ini_file.h"

namespace kasse {
namespace {

const std::array<double, 6> kRates = {0.19, 0.07, 0.19, 0.0, 0.107, 0.055};

struct ItemListFixture : ::testing::Test {
  ItemListFixture() {
    texts.Load(IniFile::Parse("[Deutsch]\n20txt=Menge\n39txt=Artikel\n40txt=Daten\n41txt=Hash\n"),
               "Deutsch");
    list.ResetItemList(containers, kRates);
  }
  static ItemInput Item(std::string quantity, std::string unit, std::string name,
                        std::array<std::string, 8> amounts) {
    return {std::move(quantity), std::move(unit), std::move(name), false, false, false, amounts};
  }
  // Encodes `item` alone into an emptied list and monitor.
  int EncodeAlone(const ItemInput& item) {
    list.ResetItemList(containers, kRates);
    monitor.Clear();
    return list.EncodeItem(item, containers, 2);
  }
  std::string Hex() const { return HexWritten(list.ItemListBytes()); }

  FunctionMonitor monitor;
  LanguageTexts texts;
  ItemList list{monitor, texts};
  VatContainers containers;
};

class FailingCard : public CardHasher {
 public:
  std::optional<Sha1Digest> HashOnCard(ByteSpan) override { return std::nullopt; }
};

class FixedCard : public CardHasher {
 public:
  std::optional<Sha1Digest> HashOnCard(ByteSpan data) override {
    seen = Bytes(data.begin(), data.end());
    Sha1Digest digest{};
    digest.fill(0xAB);
    return digest;
  }
  Bytes seen;
};

TEST(ItemQuantity, ReadsCommaAndPointAndRoundsToSixDecimals) {
  const std::pair<const char*, const char*> cases[] = {{"2,5", "2.5"},
                                                       {"2.5", "2.5"},
                                                       {"", "1"},
                                                       {"1", "1"},
                                                       {"-1", "-1"},
                                                       {"0,3333333333", "0.333333"},
                                                       {"-0,0000001", "0"},
                                                       {"9999999", "9999999"},
                                                       {"-10000000", "-10000000"},
                                                       {"123456789012345", "123456789012345"},
                                                       {"1000000000000000", "1e+15"}};
  for (const auto& [text, written] : cases)
    EXPECT_EQ(ItemQuantityText(text).value(), written) << text;
}

TEST(ItemQuantity, RefusesTextsThatAreNoNumberOrTooLong) {
  for (const char* bad : {"abc", "1,2,3", "nan", "inf", "1e5", " 1", "2,5kg"})
    EXPECT_EQ(ItemQuantityText(bad).error().kind, ErrorKind::kMalformed) << bad;
  EXPECT_EQ(ItemQuantityText("-123456789012345678901").error().kind, ErrorKind::kTooLong);
  EXPECT_FALSE(ItemQuantityText(std::string(400, '9')));
}

TEST_F(ItemListFixture, EncodesQuantityUnitNameAndPrices) {
  ASSERT_EQ(list.EncodeItem(Item("2,5", "kg", "\xC4pfel Boskop", {"498"}), containers, 2), 0);
  EXPECT_EQ(Hex(), "A0 03 32 2E 35 A1 02 6B 67 A2 0B 23 70 66 65 6C 62 6F 73 6B 6F 70 B1 02 49 8C");
  EXPECT_EQ(list.ItemListText(),
            "<itemList><item><qnt>2.5</qnt><unit>kg</unit><name>\xC4pfel Boskop</name>"
            "<price1>498</price1></item>");
  EXPECT_EQ(monitor.Text(), "Artikel\r\n\tMenge: 2.5kg\t#pfelboskop\tE1: 498C");
}

TEST_F(ItemListFixture, UnitIsCleanedAndCutAndEmptyUnitLeavesNoElement) {
  ASSERT_EQ(list.EncodeItem(Item("1",
                                 "St\xFC"
                                 "ck",
                                 "A", {"100"}),
                            containers, 2),
            0);
  EXPECT_EQ(Hex(), "A0 01 31 A1 05 73 74 23 63 6B A2 01 61 B1 02 10 0C");
  ASSERT_EQ(EncodeAlone(Item("1", "Kilogramm je", "A", {})), 0);
  EXPECT_EQ(Hex(), "A0 01 31 A1 08 6B 69 6C 6F 67 72 61 6D A2 01 61");
  ASSERT_EQ(EncodeAlone(Item("1", "   ", " ", {})), 0);
  EXPECT_EQ(Hex(), "A0 01 31 A1 00 A2 00");
  EXPECT_NE(list.ItemListText().find("<unit></unit><name> </name>"), std::string::npos);
  ASSERT_EQ(EncodeAlone(Item("1", "", "Brot", {"250"})), 0);
  EXPECT_EQ(Hex(), "A0 01 31 A2 04 62 72 6F 74 B1 02 25 0C");
  EXPECT_EQ(monitor.Text(), "Artikel\r\n\tMenge: 1 brot\tE1: 250C");
}

TEST_F(ItemListFixture, FlagsFollowTheNameAndAgencyFlagNeedsVersionTwo) {
  ItemInput item = Item("1", "", "X", {"-100", "", "", "", "", "", "-100", "-100"});
  item.isDiscount = true;
  item.isVoucher = true;
  ASSERT_EQ(list.EncodeItem(item, containers, 2), 0);
  EXPECT_EQ(Hex(), "A0 01 31 A2 01 78 AA 00 AB 00 AC 00 B1 02 10 0D");
  EXPECT_NE(list.ItemListText().find("<discountSurcharge /><voucher /><thirdParty />"),
            std::string::npos);
  list.ResetItemList(containers, kRates);
  ASSERT_EQ(list.EncodeItem(item, containers, 1), 0);
  EXPECT_EQ(Hex(), "A0 01 31 A2 01 78 AA 00 AB 00 B1 02 10 0D");
  // Version 1 still books the agency share.
  EXPECT_DOUBLE_EQ(containers[1].turnoverThirdParty, -100);
  EXPECT_EQ(containers[1].hasThirdParty, 0);
  EXPECT_DOUBLE_EQ(containers[7].turnover, -100);
  EXPECT_DOUBLE_EQ(containers[8].turnover, -100);
  EXPECT_DOUBLE_EQ(containers[8].turnoverNeg, 100);
}

TEST_F(ItemListFixture, CancellationBooksNegativeAmount) {
  ASSERT_EQ(list.EncodeItem(Item("1", "", "Brot", {"119"}), containers, 2), 0);
  ASSERT_EQ(list.EncodeItem(Item("1", "", "Brot", {"-119"}), containers, 2), 0);
  EXPECT_EQ(Hex().substr(Hex().size() - 11), "B1 02 11 9D");
  EXPECT_DOUBLE_EQ(containers[1].turnover, 0);
  EXPECT_DOUBLE_EQ(containers[1].turnoverNeg, 119);
  EXPECT_DOUBLE_EQ(containers[1].vat, 0);
}

TEST_F(ItemListFixture, NamesWithMarkupAreEscaped) {
  ASSERT_EQ(list.EncodeItem(Item("1", "", "Salz & <Pfeffer>", {"100"}), containers, 2), 0);
  EXPECT_NE(list.ItemListText().find("<name>Salz &amp; &lt;Pfeffer&gt;</name>"), std::string::npos);
}

TEST_F(ItemListFixture, ZeroAndUnreadableAmountsNeitherEncodeNorBook) {
  ASSERT_EQ(list.EncodeItem(Item("1", "", "A", {"0", "x", "", "12a"}), containers, 2), 0);
  EXPECT_EQ(Hex(), "A0 01 31 A2 01 61");
  for (int c = 1; c <= 8; ++c)
    EXPECT_DOUBLE_EQ(containers[c].turnover, 0) << c;
}

TEST_F(ItemListFixture, TooLongQuantityLeavesAnEmptyItemAndBooksNothing) {
  ASSERT_EQ(list.EncodeItem(Item("1", "", "A", {"100"}), containers, 2), 0);
  const Bytes before = list.ItemListBytes();
  EXPECT_EQ(list.EncodeItem(Item("12345678901234567", "", "B", {"100"}), containers, 2), -1);
  EXPECT_EQ(list.EncodeItem(Item("zwei", "", "B", {"100"}), containers, 2), -2);
  EXPECT_EQ(list.ItemListBytes(), before);
  EXPECT_TRUE(list.ItemListText().ends_with("</item><item></item><item></item>"));
  EXPECT_DOUBLE_EQ(containers[1].turnover, 100);
}

TEST_F(ItemListFixture, ResetEmptiesListAndTakesRates) {
  ASSERT_EQ(list.EncodeItem(Item("1", "", "A", {"100"}), containers, 2), 0);
  list.AppendText("</itemList>");
  list.ResetItemList(containers, kRates);
  EXPECT_TRUE(list.ItemListBytes().empty());
  EXPECT_EQ(list.ItemListText(), "<itemList>");
  EXPECT_DOUBLE_EQ(containers[1].turnover, 0);
  EXPECT_DOUBLE_EQ(containers[5].rate, 0.107);
  EXPECT_DOUBLE_EQ(containers[7].rate, 0);
}

TEST_F(ItemListFixture, AppendItemElementCutsOverlongValues) {
  list.AppendItemElement(0xA2, Bytes(300, 0x41));
  ASSERT_EQ(list.ItemListBytes().size(), 257u);
  EXPECT_EQ(list.ItemListBytes()[1], 0xFF);
  list.AppendItemElement(0xAA, {});
  EXPECT_EQ(list.ItemListBytes().size(), 259u);
}

TEST_F(ItemListFixture, HashesWithSha1AndWritesBothMonitorLines) {
  // FIPS 180-1 test vector "abc".
  list.AppendItemElement(0x61, ToBytes("c"));
  list.ResetItemList(containers, kRates);
  const Sha1Digest empty = list.HashItemList(nullptr);
  EXPECT_EQ(HexCompact(empty), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_EQ(list.ItemHash(), empty);
  ASSERT_EQ(list.EncodeItem(Item("1", "", "A", {}), containers, 2), 0);
  monitor.Clear();
  list.HashItemList(nullptr);
  EXPECT_TRUE(monitor.Text().starts_with("\tDaten: A0 01 31 A2 01 61 \r\n\tHash: "));
}

TEST_F(ItemListFixture, CardHashIsUsedAndFailureFallsBackToSha1) {
  ASSERT_EQ(list.EncodeItem(Item("1", "", "A", {}), containers, 2), 0);
  FixedCard card;
  EXPECT_EQ(list.HashItemList(&card)[0], 0xAB);
  EXPECT_EQ(card.seen, list.ItemListBytes());
  FailingCard failing;
  EXPECT_EQ(list.HashItemList(&failing), Sha1(list.ItemListBytes()));
  EXPECT_NE(monitor.Text().find("QOR hash failed"), std::string::npos);
}

TEST(VatContainers, InclusiveAndExclusiveVatShares) {
  VatContainers containers;
  containers.Reset(kRates);
  containers.BookAmount(1, "119", false, false, 2);
  EXPECT_NEAR(containers[1].vat, 19, 1e-9);
  containers.BookAmount(2, "100", true, false, 2);
  EXPECT_NEAR(containers[2].vat, 7, 1e-9);
  containers.BookAmount(4, "100", false, true, 2);
  EXPECT_DOUBLE_EQ(containers[4].vat, 0);
  EXPECT_EQ(containers[4].hasThirdParty, 1);
  EXPECT_DOUBLE_EQ(containers[4].turnoverThirdParty, 100);
}

TEST(VatContainers, OutOfRangeNumbersNeverReachPastTheArray) {
  VatContainers containers;
  containers.Reset(kRates);
  containers.BookAmount(9, "100", false, false, 2);
  containers.BookAmount(0, "100", false, false, 2);
  containers[-5].turnover = 99;
  EXPECT_DOUBLE_EQ(containers[-5].turnover, 0);
  EXPECT_DOUBLE_EQ(std::as_const(containers)[9].turnover, 0);
  for (int c = 1; c <= 8; ++c)
    EXPECT_DOUBLE_EQ(containers[c].turnover, 0) << c;
}

}  // namespace
}  // namespace kasse
