#include <gtest/gtest.h>

#include "picture/qr_decode.h"
#include "picture/qr_image.h"

namespace kasse {
namespace {

TEST(QrCodeImage, ReadsBackAtEveryScaleAndKeepsTheQuietZone) {
  const std::string url = "http://127.0.0.1:8080/verify.php?t1=zQQgJhIGzgIgR8YDaWNoxxRENFFF";
  for (int scale : {1, 3, 5}) {
    const QImage picture = QrCodeImage(url, scale);
    ASSERT_FALSE(picture.isNull());
    const Result<std::string> read = DecodeQrPicture(picture);
    ASSERT_TRUE(read) << scale;
    EXPECT_EQ(*read, url) << scale;
    const int used = std::max(scale, kQrMinModulePixels);
    EXPECT_EQ(picture.width() % used, 0);
    for (int i = 0; i < kQrQuietModules * used; ++i)
      EXPECT_EQ(picture.pixel(i, i), qRgb(255, 255, 255));
  }
}

TEST(QrCodeImage, NothingToDrawGivesANullImageAndNothingIsRead) {
  EXPECT_TRUE(QrCodeImage("").isNull());
  EXPECT_EQ(DecodeQrPicture(QImage()).error().kind, ErrorKind::kMissingInput);
  QImage blank(64, 64, QImage::Format_RGB32);
  blank.fill(Qt::white);
  EXPECT_EQ(DecodeQrPicture(blank).error().kind, ErrorKind::kMalformed);
  EXPECT_TRUE(QrCodeImage(std::string(5000, 'x')).isNull());
}

}  // namespace
}  // namespace kasse
