#include "ui/look.h"

#include <QGroupBox>
#include <QPainter>
#include <QPalette>
#include <cmath>

namespace kasse {

namespace {

int Step(int from, int to, int i, int span) {
  if (span <= 0) return from;
  return static_cast<int>(std::lround(from + (to - from) * static_cast<double>(i) / span));
}

QColor Between(const QColor& from, const QColor& to, int i, int span) {
  return QColor(Step(from.red(), to.red(), i, span), Step(from.green(), to.green(), i, span),
                Step(from.blue(), to.blue(), i, span));
}

QString Rgb(std::uint32_t bgr) {
  return BgrColour(bgr).name(QColor::HexRgb);
}

}  // namespace

QColor BgrColour(std::uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

void PaintGradient(QPainter& painter, std::uint32_t from, std::uint32_t to,
                   GradientDirection direction, const QRect& rect) {
  const QColor a = BgrColour(from);
  const QColor b = BgrColour(to);
  painter.save();
  painter.setPen(Qt::NoPen);
  if (direction == GradientDirection::kTopToBottom) {
    for (int i = 0; i <= rect.height(); ++i)
      painter.fillRect(QRect(rect.left(), rect.top() + i, rect.width(), 1),
                       Between(a, b, i, rect.height()));
  } else {
    const bool bevel = direction == GradientDirection::kBevelledLeft;
    for (int i = 0; i <= rect.width(); ++i) {
      int top = rect.top();
      int bottom = rect.bottom() + 1;
      if (bevel && i < 7) {
        top += 5 - i;
        bottom -= 5 - i;
      } else if (bevel) {
        bottom -= 2;
      }
      painter.fillRect(QRect(rect.left() + i, top, 1, bottom - top),
                       Between(a, b, i, rect.width()));
    }
  }
  painter.restore();
}

void StyleGroup(QGroupBox& group, std::uint32_t bgr) {
  group.setStyleSheet(
      QStringLiteral("QGroupBox#%1 { background: %2; border: 1px solid #8a9aa8;"
                     " border-radius: 8px; margin-top: 14px; padding: 6px 4px 4px 4px; }"
                     "QGroupBox#%1::title { subcontrol-origin: margin; left: 10px;"
                     " padding: 0 4px; font-weight: bold; color: #203040; }")
          .arg(group.objectName(), Rgb(bgr)));
}

void StylePanel(QWidget& panel, std::uint32_t bgr) {
  panel.setAutoFillBackground(true);
  QPalette palette = panel.palette();
  palette.setColor(QPalette::Window, BgrColour(bgr));
  panel.setPalette(palette);
}

void SetFocusTint(QWidget& field, bool focused) {
  QPalette palette = field.palette();
  palette.setColor(QPalette::Base, focused ? BgrColour(kPaleColour) : QColor(Qt::white));
  field.setPalette(palette);
}

}  // namespace kasse
