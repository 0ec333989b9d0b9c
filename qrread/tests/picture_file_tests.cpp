// What a file shows: one code, none, several; pictures and PDF pages; what is neither.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>

#include "common/tests/support/test_folders.h"
#include "protocol/qr_symbol.h"
#include "qrread/picture_file.h"
#include "qrread/qr_read.h"

namespace kasse {
namespace {

using testing::TempFolder;

// The text's code drawn at (left, top) of `picture`, each module `scale` pixels.
void DrawCode(QImage& picture, const std::string& text, int left, int top, int scale = 4) {
  const std::optional<QrSymbol> symbol = RenderQrModules(text);
  ASSERT_TRUE(symbol.has_value());
  QPainter painter(&picture);
  for (int row = 0; row < symbol->size; ++row)
    for (int column = 0; column < symbol->size; ++column)
      if (symbol->Dark(row, column))
        painter.fillRect(left + column * scale, top + row * scale, scale, scale, Qt::black);
}

QImage Paper(int width = 600, int height = 300) {
  QImage paper(width, height, QImage::Format_RGB32);
  paper.fill(Qt::white);
  return paper;
}

std::string Saved(TempFolder& folder, const QImage& picture, const char* name, const char* format) {
  const std::filesystem::path path = folder.Path() / name;
  EXPECT_TRUE(picture.save(QString::fromStdString(path.string()), format));
  return path.string();
}

TEST(QrCodeOfFile, OneCodeIsReadNoneOrSeveralDifferentOnesAreSaidPlainly) {
  TempFolder folder;
  const std::string first = "http://127.0.0.1:8080/verify.php?t1=AAAA";
  const std::string second = "http://127.0.0.1:8080/verify.php?t1=BBBB";
  QImage one = Paper();
  DrawCode(one, first, 40, 40);
  EXPECT_EQ(QrCodeOfFile(Saved(folder, one, "one.png", "PNG")).value(), first);
  EXPECT_EQ(QrCodeOfFile(Saved(folder, one, "one.jpg", "JPEG")).value(), first);

  QImage twice = one;
  DrawCode(twice, first, 340, 40);  // the same receipt twice: still one code
  EXPECT_EQ(QrCodeOfFile(Saved(folder, twice, "twice.png", "PNG")).value(), first);
  QImage two = one;
  DrawCode(two, second, 340, 40);
  EXPECT_EQ(ReadQrCodes(two).size(), 2u);
  const auto several = QrCodeOfFile(Saved(folder, two, "two.png", "PNG"));
  ASSERT_FALSE(several);
  EXPECT_NE(several.error().English().find("two.png: 2 different QR codes"), std::string::npos);

  const auto none = QrCodeOfFile(Saved(folder, Paper(), "none.png", "PNG"));
  ASSERT_FALSE(none);
  EXPECT_NE(none.error().English().find("none.png: no QR code found"), std::string::npos);
}

TEST(QrCodeOfFile, PdfPagesAreReadAndWhatIsNoPictureIsNamed) {
  int argc = 3;
  char name[] = "qrread_tests", option[] = "-platform", platform[] = "offscreen";
  char* argv[] = {name, option, platform, nullptr};
  QGuiApplication app(argc, argv);  // the PDF writer lays out its page with one
  TempFolder folder;
  const std::string text = "http://127.0.0.1:8080/verify.php?t1=CCCC";
  const std::filesystem::path pdf = folder.Path() / "two-pages.pdf";
  {
    QPdfWriter writer(QString::fromStdString(pdf.string()));
    writer.setResolution(300);
    QPainter painter(&writer);
    writer.newPage();  // the code is on the second page
    QImage code = Paper(200, 200);
    DrawCode(code, text, 20, 20);
    painter.drawImage(QRect(300, 300, 600, 600), code);
  }
  auto pages = PicturesOfFile(pdf);
  ASSERT_TRUE(pages) << pages.error().English();
  EXPECT_EQ(pages->size(), 2u);
  EXPECT_EQ(QrCodeOfFile(pdf).value(), text);

  const struct {
    std::string name, bytes, expected;
  } refused[] = {
      {"notes.txt", "just some text", "neither a picture (PNG, JPEG) nor a PDF"},
      {"broken.pdf", "%PDF-1.4\nnot really", "a PDF that cannot be read"},
      {"empty.png", "", "neither a picture"},
  };
  for (const auto& c : refused) {
    const auto read = QrCodeOfFile(folder.Write(c.name, c.bytes));
    ASSERT_FALSE(read) << c.name;
    EXPECT_NE(read.error().English().find(c.name + ": " + c.expected), std::string::npos)
        << read.error().English();
  }
  EXPECT_FALSE(QrCodeOfFile(folder.Path() / "missing.png"));
}

}  // namespace
}  // namespace kasse
