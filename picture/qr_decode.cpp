#include "picture/qr_decode.h"

#include <ZXing/ReadBarcode.h>
#include <ZXing/TextUtfEncoding.h>

namespace kasse {

Result<std::string> DecodeQrPicture(const QImage& picture) {
  if (picture.isNull()) return MakeError(ErrorKind::kMissingInput, "no QR code on the receipt");
  const QImage gray = picture.convertToFormat(QImage::Format_Grayscale8);
  const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(),
                              ZXing::ImageFormat::Lum, static_cast<int>(gray.bytesPerLine()));
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::QRCode);
  hints.setTryHarder(true);
  const ZXing::Result result = ZXing::ReadBarcode(view, hints);
  if (!result.isValid()) return MakeError(ErrorKind::kMalformed, "the QR code cannot be read");
  return ZXing::TextUtfEncoding::ToUtf8(result.text());
}

}  // namespace kasse
