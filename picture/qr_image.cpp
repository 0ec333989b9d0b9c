#include "picture/qr_image.h"

#include <QPainter>
#include <algorithm>

#include "protocol/qr_symbol.h"

namespace kasse {

QImage QrCodeImage(std::string_view text, int modulePixels) {
  const std::optional<QrSymbol> symbol = RenderQrModules(text);
  if (!symbol) return {};
  const int scale = std::max(modulePixels, kQrMinModulePixels);
  const int side = (symbol->size + 2 * kQrQuietModules) * scale;
  QImage image(side, side, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  for (int row = 0; row < symbol->size; ++row)
    for (int column = 0; column < symbol->size; ++column)
      if (symbol->Dark(row, column))
        painter.fillRect((column + kQrQuietModules) * scale, (row + kQrQuietModules) * scale, scale,
                         scale, Qt::black);
  return image;
}

}  // namespace kasse
