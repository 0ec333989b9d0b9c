// The standard print's picture: the receipt text by the line rule, the QR code below it, and
// where the picture goes on a page.

#include <gtest/gtest.h>

#include <QImage>

#include "picture/qr_decode.h"
#include "picture/qr_image.h"
#include "picture/receipt_print_image.h"
#include "picture/tests/gui_app.h"

namespace kasse {
namespace {

using testing::EnsureGuiApp;
using testing::IsWhite;

TEST(ReceiptPrintImage, HeightFollowsTheLineRule) {
  EnsureGuiApp();
  const std::vector<std::string> lines(10, "Kassenbeleg");
  const QImage image = ReceiptPrintImage(lines, QImage(), 300);
  EXPECT_EQ(image.width(), 300);
  EXPECT_EQ(image.height(), 143);                      // 10 × 8 × 1.79 = 143.2
  EXPECT_FALSE(IsWhite(image, QRect(0, 0, 300, 15)));  // the text is drawn
  // A line too long for the width is wrapped and counts as the lines it takes.
  std::string longLine;
  for (int i = 0; i < 40; ++i)
    longLine += "Wein ";
  EXPECT_GE(ReceiptPrintImage({longLine}, QImage(), 300).height(), 2 * 14);
}

TEST(ReceiptPrintImage, CodeSitsBottomCentreWithoutCoveringText) {
  EnsureGuiApp();
  const QImage code = QrCodeImage("http://127.0.0.1:8080/verify.php?t1=AAAA");
  ASSERT_FALSE(code.isNull());
  std::vector<std::string> lines(12, "Summe 12,34 \x80");
  lines.insert(lines.end(), 5, "");
  const QImage image = ReceiptPrintImage(lines, code, 400);
  const int textHeight = 12 * 8 * 179 / 100;
  // Five empty lines are too little room for the code, so the picture grew below the text.
  EXPECT_GE(image.height(), textHeight + code.height());
  const QPoint corner(400 / 2 - code.width() / 2, image.height() - code.height());
  EXPECT_EQ(image.copy(QRect(corner, code.size())), code.convertToFormat(image.format()));
  const Result<std::string> read = DecodeQrPicture(image);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, "http://127.0.0.1:8080/verify.php?t1=AAAA");
}

TEST(ReceiptPrintImage, PageGeometryStartsOneThirdAcross) {
  EXPECT_EQ(ReceiptPageRect(QSize(300, 600), 900), QRect(300, 0, 330, 720));
  EXPECT_EQ(ReceiptPageRect(QSize(200, 100), 1200), QRect(400, 0, 440, 240));
  EXPECT_TRUE(ReceiptPageRect(QSize(0, 0), 900).isEmpty());
  EXPECT_TRUE(ReceiptPageRect(QSize(300, 600), 0).isEmpty());
}

}  // namespace
}  // namespace kasse
