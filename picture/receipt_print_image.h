#pragma once
// The picture the standard print puts on paper: the receipt text at font size 8 with the QR
// code bottom-centred, and where that picture goes on a page.

#include <QFont>
#include <QImage>
#include <QRect>
#include <QSize>
#include <string>
#include <vector>

class QPainter;

namespace kasse {

// Pixels a receipt line gets in the picture: 8 × 1.79, as the printed receipt always had.
inline constexpr double kPrintLinePixels = 8 * 1.79;
inline constexpr int kPrintFontPoints = 8;

// The receipt font at print size: fixed pitch, so the columns of the receipt stay aligned.
QFont ReceiptPrintFont();

// Lines (cp1252) laid out `width` pixels wide, long lines wrapped. Height: the laid-out line
// count × kPrintLinePixels, rounded; when the code is taller than the empty lines at the end
// that were kept for it, the picture grows by the rest, so the code never covers text.
QImage ReceiptPrintImage(const std::vector<std::string>& lines, const QImage& code, int width);

// One third across the page at its top; 1.1/3 of the page wide and stretched 1.2/1.1 in height.
QRect ReceiptPageRect(QSize image, int pageWidth);

// Draws the picture on a painter that stands on a page `pageWidth` device pixels wide.
void DrawReceiptPage(QPainter& painter, const QImage& image, int pageWidth);

}  // namespace kasse
