#include "register/receipt_lines.h"

#include <gtest/gtest.h>

namespace kasse {
namespace {

TEST(ReceiptLines, PositionLineCutsFillsAndRightAligns) {
  const std::string line = PositionLine("Brot", " A ", " 2,50\x80");
  EXPECT_EQ(line.size(), 42u);
  EXPECT_EQ(line.substr(0, 4), "Brot");
  EXPECT_EQ(line.substr(24, 4), "  A ");
  EXPECT_EQ(line.substr(35), " 2,50\x80 ");
  const std::string cut = PositionLine(std::string(30, 'n'), "abcdefghij", "");
  EXPECT_EQ(cut, std::string(24, 'n') + " abcdefg" + std::string(10, ' '));
  // An amount wider than the line keeps its end and never writes past the line.
  const std::string wide = PositionLine("x", "", std::string(50, '9') + "E");
  EXPECT_EQ(wide.size(), 42u);
  EXPECT_EQ(wide.substr(40), "E ");
}

TEST(ReceiptLines, FourColumnLineWidths) {
  EXPECT_EQ(FourColumnLine("A  19.00%", " 1,19\x80", " 1,00\x80", " 0,19\x80"),
            "A  19.0  1,19\x80     1,00\x80     0,19\x80   ");
  EXPECT_EQ(FourColumnLine("", "", "", "").size(), 37u);
  EXPECT_EQ(FourColumnLine("", "1234567890", "", "").substr(8, 9), "123456789");
}

TEST(ReceiptLines, ContainerLettersNameEveryContainerWithAPrice) {
  BookingPosition position;
  EXPECT_EQ(ContainerLetters(position), "  ");
  position.price[0] = 1;
  position.price[1] = -1;
  position.price[5] = 5;
  position.price[6] = 7;  // container 7 has no letter
  EXPECT_EQ(ContainerLetters(position), " ABF ");
}

TEST(ReceiptLines, QuantityTexts) {
  EXPECT_EQ(ReceiptQuantity(2.5), "2,5");
  EXPECT_EQ(ReceiptQuantity(3), "3");
  EXPECT_EQ(ReceiptQuantity(-1), "-1");
  EXPECT_EQ(ReceiptQuantity(1.0 / 3), "0,3333333");
  EXPECT_EQ(EncoderQuantity(1.0 / 3), "0,333333333333333");
  EXPECT_EQ(EncoderQuantity(1.5), "1,5");
  EXPECT_EQ(EncoderQuantity(-0.0), "0");
  // Whole numbers near the point where the receipt's precision turns to an exponent.
  EXPECT_EQ(ReceiptQuantity(9999999), "9999999");
  EXPECT_EQ(ReceiptQuantity(-9999999), "-9999999");
  EXPECT_EQ(ReceiptQuantity(10000000), "1e+07");
  EXPECT_EQ(ReceiptQuantity(12345678), "1,234568e+07");
  EXPECT_EQ(EncoderQuantity(12345678), "12345678");
  EXPECT_EQ(EncoderQuantity(1e15), "1e+15");
}

TEST(ReceiptLines, ContainerAmountTexts) {
  BookingPosition position;
  position.price[0] = 199;
  position.price[2] = 1;
  EXPECT_EQ(ContainerAmountText(position, 1, 2.5), "498");
  EXPECT_EQ(ContainerAmountText(position, 1, -2.5), "-498");
  EXPECT_EQ(ContainerAmountText(position, 2, 2.5), "");
  EXPECT_EQ(ContainerAmountText(position, 3, 0.4), "");  // rounds to 0
  EXPECT_EQ(ContainerAmountText(position, 7, 1), "");
  position.thirdparty = true;
  position.deliverynote = true;
  EXPECT_EQ(ContainerAmountText(position, 7, 2), "400");
  EXPECT_EQ(ContainerAmountText(position, 8, -1), "-200");
  EXPECT_EQ(ContainerAmountText(position, 9, 1), "");
}

TEST(ReceiptLines, GroupedBase32) {
  EXPECT_EQ(GroupedBase32(ToBytes("f"), false).front(), "MY==");
  EXPECT_EQ(GroupedBase32(ToBytes("foobar"), false).front(), "MZXW6-YTBOI-==");
  EXPECT_EQ(GroupedBase32({}, true), std::vector<std::string>{""});
  const std::vector<std::string> lines = GroupedBase32(Bytes(48, 0xFF), true);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 36u);
  EXPECT_EQ(lines[2], "77777-77777-77777-76=");
  // Exactly 30 characters need no empty last line.
  EXPECT_EQ(GroupedBase32(Bytes(15, 0), true).size(), 1u);
}

TEST(ReceiptLines, VatRateColumn) {
  EXPECT_EQ(VatRateColumn(1, 0.19), "A  19.00%");
  EXPECT_EQ(VatRateColumn(5, 0.107), "E  10.70%");
  EXPECT_EQ(VatRateColumn(6, 0.055), "F  5.50%");
  EXPECT_EQ(VatRateColumn(3, 0.0005), "C  0.05%");
}

}  // namespace
}  // namespace kasse
