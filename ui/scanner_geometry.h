#pragma once
// The arithmetic of the scanner window, free of widgets: which part of the screen the live
// picture shows, where its crosshair stands, and when a pointer over the QR overlay reads it.

#include <QLine>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <array>

namespace kasse {

// The live picture is magnified twice: the source is half the picture's size, centred on the
// pointer, so the crosshair stands at the picture's centre unless the screen edge moved it.
inline constexpr int kScanMagnification = 2;

// The screen part under the pointer, shifted (not cut) to lie inside `screen`; a screen
// smaller than the source keeps the source's top-left corner at the screen's.
QRect ScanSourceRect(QPoint pointer, QSize picture, const QRect& screen);

// A horizontal and a vertical line, each half the picture long, crossing where the pointer
// lands in the magnified picture.
std::array<QLine, 2> CrosshairLines(QPoint pointer, const QRect& source, QSize picture);

// True when `at` (overlay pixels) lies strictly inside the middle third of a square overlay of
// side `side`: there a pointer counts as centred over the code.
bool InScanZone(QPoint at, int side);

// Where the scanner window's frame opens: 50 pixels right of the main window's frame and
// half-way down it, shifted (not cut) to lie inside `screen`; a window larger than the screen
// keeps its top-left corner at the screen's.
QPoint ScannerWindowPlace(const QRect& mainFrame, QSize scannerFrame, const QRect& screen);

}  // namespace kasse
