#include "ui/scanner_geometry.h"

#include <algorithm>
#include <cmath>

namespace kasse {

namespace {

// Half of a length, rounded to the nearest integer (halves up).
int Half(int length) {
  return static_cast<int>(std::lround(length / 2.0));
}

// Moves [start, start + length) into [low, high) without changing its length.
int ShiftInto(int start, int length, int low, int high) {
  if (start + length > high) start = high - length;
  return std::max(start, low);
}

}  // namespace

QRect ScanSourceRect(QPoint pointer, QSize picture, const QRect& screen) {
  const int width = std::max(1, picture.width() / kScanMagnification);
  const int height = std::max(1, picture.height() / kScanMagnification);
  const int left =
      ShiftInto(pointer.x() - Half(width), width, screen.left(), screen.left() + screen.width());
  const int top =
      ShiftInto(pointer.y() - Half(height), height, screen.top(), screen.top() + screen.height());
  return QRect(left, top, width, height);
}

std::array<QLine, 2> CrosshairLines(QPoint pointer, const QRect& source, QSize picture) {
  const int scaleX = source.width() > 0 ? picture.width() / source.width() : 1;
  const int scaleY = source.height() > 0 ? picture.height() / source.height() : 1;
  const int cx = std::clamp((pointer.x() - source.left()) * scaleX, 0, picture.width() - 1);
  const int cy = std::clamp((pointer.y() - source.top()) * scaleY, 0, picture.height() - 1);
  const int dx = picture.width() / 4;
  const int dy = picture.height() / 4;
  return {QLine(cx - dx, cy, cx + dx, cy), QLine(cx, cy - dy, cx, cy + dy)};
}

bool InScanZone(QPoint at, int side) {
  const int m = side / 3;
  return m < at.x() && at.x() < side - m && m < at.y() && at.y() < side - m;
}

QPoint ScannerWindowPlace(const QRect& mainFrame, QSize scannerFrame, const QRect& screen) {
  constexpr int kGap = 50;
  const int left = ShiftInto(mainFrame.left() + mainFrame.width() + kGap, scannerFrame.width(),
                             screen.left(), screen.left() + screen.width());
  const int top = ShiftInto(mainFrame.top() + mainFrame.height() / 2, scannerFrame.height(),
                            screen.top(), screen.top() + screen.height());
  return QPoint(left, top);
}

}  // namespace kasse
