#include "qrread/picture_file.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <QByteArray>
#include <algorithm>
#include <cmath>
#include <memory>

#include "common/files.h"
#include "qrread/qr_read.h"

namespace kasse {
namespace {

// A receipt's code printed at font size 8 needs about this to be read from the page.
constexpr double kPrintDpi = 300;

Error Unreadable(const std::string& name, const std::string& why) {
  return MakeError(ErrorKind::kUnusableInput, name + ": " + why);
}

QImage PageImage(const poppler::page& page) {
  const poppler::rectf box = page.page_rect();  // in points, 72 a inch
  const double inches = std::max(box.width(), 1.0) * std::max(box.height(), 1.0) / (72.0 * 72.0);
  const double dpi = std::min(kPrintDpi, std::sqrt(kMostPagePixels / inches));
  poppler::page_renderer renderer;
  renderer.set_render_hints(poppler::page_renderer::antialiasing |
                            poppler::page_renderer::text_antialiasing);
  renderer.set_image_format(poppler::image::format_gray8);
  const poppler::image image = renderer.render_page(&page, dpi, dpi);
  if (!image.is_valid()) return {};
  return QImage(reinterpret_cast<const uchar*>(image.const_data()), image.width(), image.height(),
                image.bytes_per_row(), QImage::Format_Grayscale8)
      .copy();  // the renderer's buffer goes with `image`
}

Result<std::vector<QImage>> PdfPages(const std::string& bytes, const std::string& name) {
  // Poppler's own complaints about a damaged file would only repeat what the error says.
  poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
  std::vector<char> data(bytes.begin(), bytes.end());
  std::unique_ptr<poppler::document> document(poppler::document::load_from_data(&data));
  if (!document) return Unreadable(name, "a PDF that cannot be read");
  if (document->is_locked()) return Unreadable(name, "a PDF locked with a password");
  std::vector<QImage> pages;
  for (int i = 0; i < std::min(document->pages(), kMostPages); ++i) {
    std::unique_ptr<poppler::page> page(document->create_page(i));
    if (!page) continue;
    QImage image = PageImage(*page);
    if (!image.isNull()) pages.push_back(std::move(image));
  }
  if (pages.empty()) return Unreadable(name, "a PDF without a page that can be drawn");
  return pages;
}

}  // namespace

Result<std::vector<QImage>> PicturesOfBytes(const std::string& bytes, const std::string& name) {
  if (bytes.starts_with("%PDF-")) return PdfPages(bytes, name);
  QImage picture;
  if (!picture.loadFromData(
          QByteArray::fromRawData(bytes.data(), static_cast<int>(bytes.size())))) {
    return Unreadable(name, "neither a picture (PNG, JPEG) nor a PDF");
  }
  return std::vector<QImage>{std::move(picture)};
}

Result<std::vector<QImage>> PicturesOfFile(const std::filesystem::path& path) {
  auto bytes = ReadFile(path, kLargestPictureFile);
  if (!bytes) return bytes.error();
  return PicturesOfBytes(*bytes, path.string());
}

Result<std::string> QrCodeOfFile(const std::filesystem::path& path) {
  auto pictures = PicturesOfFile(path);
  if (!pictures) return pictures.error();
  std::vector<std::string> codes;
  for (const QImage& picture : *pictures) {
    for (std::string& code : ReadQrCodes(picture))
      if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(code);
  }
  if (codes.empty()) {
    return MakeError(ErrorKind::kMissingInput,
                     path.string() +
                         ": no QR code found (is the whole code in the picture, "
                         "sharp and not too small?)");
  }
  if (codes.size() > 1) {
    return MakeError(ErrorKind::kUnusableInput,
                     path.string() + ": " + std::to_string(codes.size()) +
                         " different QR codes; crop the picture to the receipt's code");
  }
  return codes.front();
}

}  // namespace kasse
