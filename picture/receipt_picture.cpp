#include "picture/receipt_picture.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include "common/cp1252.h"
#include "picture/qr_image.h"
#include "picture/receipt_print_image.h"
#include "register/messages.h"
#include "register/register.h"

namespace kasse {

namespace {

// The page a printer in high resolution gives a PDF; the drawing scales with the page width.
constexpr int kPdfDotsPerInch = 1200;
constexpr double kPdfMarginPoints = 10;

}  // namespace

QImage ReceiptCodePicture(const Register& reg) {
  if (!reg.CurrentSale().QrFirstLine() || reg.LastVerifyUrl().empty()) return {};
  return QrCodeImage(reg.LastVerifyUrl());
}

Result<void> DrawReceiptOnPage(QPagedPaintDevice& device, const QImage& image,
                               const QString& target) {
  QPainter painter;
  if (!painter.begin(&device))
    return MakeError(ErrorKind::kIo, msg::kCannotPrintTo, {Utf8ToCp1252(target.toStdString())});
  DrawReceiptPage(painter, image, painter.device()->width());
  painter.end();
  return {};
}

Result<void> PrintReceiptPdf(const Register& reg, const std::filesystem::path& pdf) {
  const QString file = QString::fromStdString(pdf.string());
  QPdfWriter writer(file);
  writer.setResolution(kPdfDotsPerInch);
  writer.setPageLayout(
      QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                  QMarginsF(kPdfMarginPoints, kPdfMarginPoints, kPdfMarginPoints, kPdfMarginPoints),
                  QPageLayout::Point));
  const QImage image = ReceiptPrintImage(reg.CurrentSale().ReceiptLines(), ReceiptCodePicture(reg),
                                         kDefaultReceiptWidth);
  return DrawReceiptOnPage(writer, image, file);
}

}  // namespace kasse
