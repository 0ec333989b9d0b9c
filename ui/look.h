#pragma once
// The register's look: the colours of the design (blue in the high byte), the gradient behind
// the main window and the rounded, tinted group boxes.

#include <QColor>
#include <QRect>
#include <QString>
#include <cstdint>

class QPainter;
class QGroupBox;
class QWidget;

namespace kasse {

// Colour values as the design gives them: 0x5CD2E4 is blue 5C, green D2, red E4.
inline constexpr std::uint32_t kGradientFrom = 0x5CD2E4;
inline constexpr std::uint32_t kGradientTo = 0xD3FEFE;
inline constexpr std::uint32_t kReceiptGroupColour = 0x5CD2E4;
inline constexpr std::uint32_t kPaleColour = 0xD3FEFE;   // editor, report group, focus
inline constexpr std::uint32_t kPanelColour = 0x6DE8F3;  // discount box, price and button panel

QColor BgrColour(std::uint32_t bgr);

enum class GradientDirection { kTopToBottom = 0, kLeftToRight = 1, kBevelledLeft = 2 };

// One-pixel rows (or columns) stepping linearly from `from` to `to`; the bevelled variant
// cuts the first seven columns into a slanted left edge.
void PaintGradient(QPainter& painter, std::uint32_t from, std::uint32_t to,
                   GradientDirection direction, const QRect& rect);

// A rounded group box (corner radii 5 x 10 as the design's 10 x 20 ellipses) in `bgr`.
void StyleGroup(QGroupBox& group, std::uint32_t bgr);
// A plain panel (a widget holding controls) tinted in `bgr`, corners slightly rounded.
void StylePanel(QWidget& panel, std::uint32_t bgr);
// The background a list or field has while it holds the focus, and white otherwise.
void SetFocusTint(QWidget& field, bool focused);

}  // namespace kasse
