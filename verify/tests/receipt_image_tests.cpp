// kavelo-verify image: the register's own PDF and a photo of it give the verdict `url` gives.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QImage>
#include <QTransform>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "common/tests/support/test_folders.h"
#include "protocol/qr_symbol.h"
#include "qrread/picture_file.h"

namespace kasse {
namespace {

using testing::TempFolder;

struct Outcome {
  int status = -1;
  std::string output, errors;
};

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A program of the build with the user's folders inside `user`.
Outcome Program(const TempFolder& user, const std::string& program, const std::string& arguments) {
  const std::filesystem::path out = user.Path() / "out.txt", err = user.Path() / "err.txt";
  const std::string command = "XDG_DATA_HOME='" + (user.Path() / "data").string() +
                              "' XDG_STATE_HOME='" + (user.Path() / "state").string() +
                              "' QT_QPA_PLATFORM=offscreen " KASSE_BIN_DIR "/" + program + " " +
                              arguments + " >'" + out.string() + "' 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
}

// One signed sale of the user's register, printed into receipt.pdf; its verification URL.
std::string SignedSale(TempFolder& user) {
  const std::string pdf = (user.Path() / "receipt.pdf").string();
  user.Write("sale.kasse",
             "select 0\nbook\nselect 3\nbook\nsumme\nkassieren\nprint-pdf " + pdf + "\nurl\n");
  const Outcome sale =
      Program(user, "kasse", "--batch '" + (user.Path() / "sale.kasse").string() + "'");
  EXPECT_EQ(sale.status, 0) << sale.errors;
  return sale.output.substr(0, sale.output.find('\n'));
}

// What a phone makes of the page: turned, smaller, grainy, saved as a JPEG.
void Photograph(const std::filesystem::path& pdf, const std::filesystem::path& jpeg) {
  auto pages = PicturesOfFile(pdf);
  ASSERT_TRUE(pages) << pages.error().English();
  QImage photo = pages->front()
                     .convertToFormat(QImage::Format_ARGB32)
                     .transformed(QTransform().rotate(9).scale(0.6, 0.6), Qt::SmoothTransformation);
  std::mt19937 noise(4711);
  std::uniform_int_distribution<int> grain(-35, 35);
  for (int y = 0; y < photo.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(photo.scanLine(y));
    for (int x = 0; x < photo.width(); ++x) {
      // The corners the turn left empty become a grey desk around the paper.
      const int alpha = qAlpha(line[x]);
      const int base = (qGray(line[x]) * alpha + 200 * (255 - alpha)) / 255;
      const int grey = std::clamp(base + grain(noise), 0, 255);
      line[x] = qRgb(grey, grey, grey);
    }
  }
  ASSERT_TRUE(photo.save(QString::fromStdString(jpeg.string()), "JPEG", 70));
}

TEST(ReceiptImage, TheRegistersPdfAndAPhotoOfItGiveTheVerdictOfTheUrl) {
  TempFolder user;
  const std::string url = SignedSale(user);
  ASSERT_NE(url.find("/verify.php?t1="), std::string::npos) << url;
  const Outcome byUrl = Program(user, "kavelo-verify", "url '" + url + "'");
  ASSERT_EQ(byUrl.status, 0) << byUrl.output << byUrl.errors;

  const Outcome fromPdf =
      Program(user, "kavelo-verify", "image '" + (user.Path() / "receipt.pdf").string() + "'");
  EXPECT_EQ(fromPdf.status, 0) << fromPdf.errors;
  EXPECT_EQ(fromPdf.output, byUrl.output);
  EXPECT_NE(fromPdf.errors.find(url), std::string::npos) << fromPdf.errors;

  Photograph(user.Path() / "receipt.pdf", user.Path() / "photo.jpg");
  const Outcome fromPhoto =
      Program(user, "kavelo-verify", "image '" + (user.Path() / "photo.jpg").string() + "'");
  EXPECT_EQ(fromPhoto.status, 0) << fromPhoto.errors;
  EXPECT_EQ(fromPhoto.output, byUrl.output);
}

// A picture of the text's QR code, each module `scale` pixels, with a quiet zone.
QImage CodePicture(const std::string& text, int scale = 4) {
  const std::optional<QrSymbol> symbol = RenderQrModules(text);
  EXPECT_TRUE(symbol.has_value());
  const int side = (symbol->size + 8) * scale;
  QImage picture(side, side, QImage::Format_Grayscale8);
  picture.fill(255);
  for (int row = 0; row < symbol->size; ++row)
    for (int column = 0; column < symbol->size; ++column)
      if (symbol->Dark(row, column))
        for (int y = 0; y < scale; ++y)
          for (int x = 0; x < scale; ++x)
            picture.setPixel((column + 4) * scale + x, (row + 4) * scale + y, 0);
  return picture;
}

TEST(ReceiptImage, AChangedCodeIsInvalidAndNoCodeIsSaidPlainly) {
  TempFolder user;
  std::string url = SignedSale(user);
  // One letter of the signed data changed, as a forger would.
  const std::size_t at = url.find("t1=") + 12;
  url[at] = url[at] == 'A' ? 'B' : 'A';
  const std::filesystem::path forged = user.Path() / "forged.png";
  ASSERT_TRUE(CodePicture(url).save(QString::fromStdString(forged.string()), "PNG"));
  const Outcome changed = Program(user, "kavelo-verify", "image '" + forged.string() + "'");
  EXPECT_EQ(changed.status, Program(user, "kavelo-verify", "url '" + url + "'").status);
  EXPECT_NE(changed.status, 0) << changed.output;

  QImage blank(200, 200, QImage::Format_Grayscale8);
  blank.fill(255);
  const std::filesystem::path empty = user.Path() / "blank.png";
  ASSERT_TRUE(blank.save(QString::fromStdString(empty.string()), "PNG"));
  const Outcome none = Program(user, "kavelo-verify", "image '" + empty.string() + "'");
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.errors.find("blank.png: no QR code found"), std::string::npos) << none.errors;
}

}  // namespace
}  // namespace kasse
