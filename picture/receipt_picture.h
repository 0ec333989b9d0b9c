#pragma once
// The receipt as the standard print draws it, for both front-ends: the QR picture below the
// text, the page a printer or a PDF file gets, and the PDF itself. Qt Gui only, so that batch
// draws without widgets.

#include <QImage>
#include <QString>
#include <filesystem>

#include "common/result.h"

class QPagedPaintDevice;

namespace kasse {

class Register;

// The width the receipt view gives a line of text when there is no view to ask.
inline constexpr int kDefaultReceiptWidth = 320;

// The QR picture the receipt shows below its text after a cash-in drew one; a null image
// when none was drawn (no cash-in since the receipt was reset, or an empty URL).
QImage ReceiptCodePicture(const Register& reg);

// The receipt picture on the first page of `device` (a printer or a PDF file); kIo naming
// `target` when the device cannot be painted on.
Result<void> DrawReceiptOnPage(QPagedPaintDevice& device, const QImage& image,
                               const QString& target);

// The same drawing as the print dialog's, into a PDF file without asking anything: A4 at
// 1200 dpi with 10 pt margins, as a high-resolution printer set to PDF gives it.
Result<void> PrintReceiptPdf(const Register& reg, const std::filesystem::path& pdf);

}  // namespace kasse
