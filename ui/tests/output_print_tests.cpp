// The standard print of a signed sale: a PDF whose QR code reads back as the receipt's
// verification URL.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <cstdlib>
#include <filesystem>

#include "picture/qr_decode.h"
#include "picture/receipt_picture.h"
#include "register/register.h"
#include "register/tests/sim_card.h"
#include "ui/tests/ui_test_support.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

using testing::EnsureApp;
using testing::FreshHome;
using testing::IsWhite;

TEST(ReceiptOutput, PdfCodeReadsBackAsTheVerifyUrl) {
  EnsureApp();
  if (std::system("command -v pdftoppm >/dev/null") != 0) GTEST_SKIP() << "pdftoppm missing";
  const fs::path home = FreshHome();
  RegisterOptions options;
  options.home = home;
  Register reg(options, testing::UserSimCard());
  ASSERT_TRUE(reg.Start());
  ASSERT_TRUE(reg.BookProduct(0, "2"));
  ASSERT_TRUE(reg.Summe());
  ASSERT_TRUE(reg.Kassieren());
  ASSERT_FALSE(reg.LastVerifyUrl().empty());

  const fs::path pdf = home / "beleg.pdf";
  ASSERT_TRUE(PrintReceiptPdf(reg, pdf));
  const std::string command =
      "pdftoppm -r 150 -png -singlefile " + pdf.string() + " " + (home / "page").string();
  ASSERT_EQ(std::system(command.c_str()), 0);
  const QImage page(QString::fromStdString((home / "page.png").string()));
  ASSERT_FALSE(page.isNull());
  const Result<std::string> read = DecodeQrPicture(page);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, reg.LastVerifyUrl());
  // Nothing in the left third: the receipt starts one third across the printable width.
  EXPECT_TRUE(IsWhite(page, QRect(0, 0, page.width() / 4, page.height())));

  EXPECT_FALSE(PrintReceiptPdf(reg, home / "no such folder" / "beleg.pdf"));
}

}  // namespace
}  // namespace kasse
