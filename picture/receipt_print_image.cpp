#include "picture/receipt_print_image.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "common/cp1252.h"

namespace kasse {

namespace {

QString JoinLines(const std::vector<std::string>& lines) {
  QString text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += QLatin1Char('\n');
    text += QString::fromUtf8(Cp1252ToUtf8(lines[i]));
  }
  return text;
}

int LaidOutLines(const QTextDocument& document) {
  int count = 0;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
    count += std::max(1, block.layout() != nullptr ? block.layout()->lineCount() : 1);
  return count;
}

int EmptyLastLines(const std::vector<std::string>& lines) {
  int count = 0;
  for (auto line = lines.rbegin(); line != lines.rend() && line->empty(); ++line)
    ++count;
  return count;
}

int Round(double value) {
  return static_cast<int>(std::lround(value));
}

}  // namespace

QFont ReceiptPrintFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(kPrintFontPoints);
  return font;
}

QImage ReceiptPrintImage(const std::vector<std::string>& lines, const QImage& code, int width) {
  width = std::max({width, code.width(), 1});
  QTextDocument document;
  document.setDefaultFont(ReceiptPrintFont());
  document.setDocumentMargin(0);
  document.setPlainText(JoinLines(lines));
  document.setTextWidth(width);
  static_cast<void>(document.size());  // lays every block out, so their line counts are known
  int height = Round(LaidOutLines(document) * kPrintLinePixels);
  if (!code.isNull())
    height += std::max(0, code.height() - Round(EmptyLastLines(lines) * kPrintLinePixels));
  QImage image(width, std::max(height, 1), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  document.drawContents(&painter, QRectF(0, 0, width, height));
  if (!code.isNull())
    painter.drawImage(QPoint(width / 2 - code.width() / 2, image.height() - code.height()), code);
  return image;
}

QRect ReceiptPageRect(QSize image, int pageWidth) {
  if (image.isEmpty() || pageWidth <= 0) return {};
  const double s = (pageWidth / 3.0) / image.width();
  return QRect(pageWidth / 3, 0, Round(image.width() * 1.1 * s), Round(image.height() * 1.2 * s));
}

void DrawReceiptPage(QPainter& painter, const QImage& image, int pageWidth) {
  const QRect target = ReceiptPageRect(image.size(), pageWidth);
  if (target.isEmpty()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(target, image);
}

}  // namespace kasse
