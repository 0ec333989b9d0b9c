#include "qrread/qr_read.h"

#include <ZXing/ReadBarcode.h>
#include <ZXing/TextUtfEncoding.h>

namespace kasse {
namespace {

ZXing::Results Read(const QImage& picture, bool all) {
  const QImage gray = picture.convertToFormat(QImage::Format_Grayscale8);
  const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(),
                              ZXing::ImageFormat::Lum, static_cast<int>(gray.bytesPerLine()));
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::QRCode);
  hints.setTryHarder(true);
  hints.setTryRotate(true);
  hints.setMaxNumberOfSymbols(all ? 0xFF : 1);
  return ZXing::ReadBarcodes(view, hints);
}

}  // namespace

Result<std::string> DecodeQrPicture(const QImage& picture) {
  if (picture.isNull()) return MakeError(ErrorKind::kMissingInput, "no QR code on the receipt");
  for (const ZXing::Result& result : Read(picture, false))
    if (result.isValid()) return ZXing::TextUtfEncoding::ToUtf8(result.text());
  return MakeError(ErrorKind::kMalformed, "the QR code cannot be read");
}

std::vector<std::string> ReadQrCodes(const QImage& picture) {
  std::vector<std::string> texts;
  if (picture.isNull()) return texts;
  for (const ZXing::Result& result : Read(picture, true))
    if (result.isValid()) texts.push_back(ZXing::TextUtfEncoding::ToUtf8(result.text()));
  return texts;
}

}  // namespace kasse
