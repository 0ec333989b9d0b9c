#include "ui/register_picture.h"

#include <QPainter>
#include <QPainterPath>

namespace kasse {

namespace {

// A fixed pattern of dark modules that reads as a QR code at a glance.
constexpr const char* kModules[] = {"1111101", "1000101", "1011101", "1011101",
                                    "1000001", "1111101", "0010100"};

void DrawReceipt(QPainter& painter, const QRectF& paper) {
  QPainterPath path;
  path.moveTo(paper.topLeft());
  path.lineTo(paper.topRight());
  path.lineTo(paper.bottomRight());
  // A torn lower edge.
  const int teeth = 8;
  const double step = paper.width() / teeth;
  for (int i = teeth - 1; i >= 0; --i) {
    path.lineTo(paper.left() + step * (i + 0.5), paper.bottom() - step / 2);
    path.lineTo(paper.left() + step * i, paper.bottom());
  }
  path.closeSubpath();
  painter.setPen(QPen(QColor(0x70, 0x80, 0x90), 1));
  painter.setBrush(QColor(0xFE, 0xFE, 0xF4));
  painter.drawPath(path);
  painter.setPen(QPen(QColor(0x9a, 0xa4, 0xb0), 1.5));
  for (int line = 0; line < 5; ++line) {
    const double y = paper.top() + paper.height() * (0.1 + 0.08 * line);
    const double right = paper.right() - paper.width() * (line % 2 == 0 ? 0.15 : 0.35);
    painter.drawLine(QPointF(paper.left() + paper.width() * 0.12, y), QPointF(right, y));
  }
  const double module = paper.width() * 0.055;
  const QPointF origin(paper.center().x() - 3.5 * module, paper.top() + paper.height() * 0.56);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::black);
  for (int row = 0; row < 7; ++row)
    for (int column = 0; column < 7; ++column)
      if (kModules[row][column] == '1')
        painter.drawRect(
            QRectF(origin.x() + column * module, origin.y() + row * module, module, module));
}

void DrawCard(QPainter& painter, const QRectF& card) {
  QLinearGradient fill(card.topLeft(), card.bottomRight());
  fill.setColorAt(0, QColor(0x2c, 0x5f, 0x9e));
  fill.setColorAt(1, QColor(0x17, 0x33, 0x5c));
  painter.setPen(QPen(QColor(0x10, 0x20, 0x40), 1));
  painter.setBrush(fill);
  painter.drawRoundedRect(card, card.height() * 0.12, card.height() * 0.12);
  const QRectF chip(card.left() + card.width() * 0.12, card.top() + card.height() * 0.3,
                    card.width() * 0.22, card.height() * 0.32);
  painter.setBrush(QColor(0xe8, 0xc5, 0x5a));
  painter.drawRoundedRect(chip, 3, 3);
  painter.setPen(QPen(QColor(0x8a, 0x6d, 0x1c), 1));
  painter.drawLine(QPointF(chip.center().x(), chip.top()),
                   QPointF(chip.center().x(), chip.bottom()));
  painter.drawLine(QPointF(chip.left(), chip.center().y()),
                   QPointF(chip.right(), chip.center().y()));
  painter.setPen(QColor(0xff, 0xff, 0xff));
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(std::max(8, static_cast<int>(card.height() * 0.2)));
  painter.setFont(font);
  painter.drawText(card.adjusted(card.width() * 0.4, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   QStringLiteral("QOR"));
}

}  // namespace

QPixmap RegisterPicture(int width) {
  const int height = width;
  QPixmap picture(width, height);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawReceipt(painter, QRectF(width * 0.18, height * 0.04, width * 0.5, height * 0.78));
  painter.translate(width * 0.55, height * 0.62);
  painter.rotate(-12);
  DrawCard(painter, QRectF(-width * 0.3, -height * 0.14, width * 0.6, height * 0.36));
  return picture;
}

}  // namespace kasse
