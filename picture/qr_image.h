#pragma once
// The picture of a receipt's QR code as the windows, the printout and the scanner use it.

#include <QImage>
#include <string_view>

namespace kasse {

// A quiet zone of four modules around the symbol: scanners need it to find the code.
inline constexpr int kQrQuietModules = 4;
// Smaller modules cannot be read by a phone or a scanner from the screen.
inline constexpr int kQrMinModulePixels = 3;

// Each module a black square of modulePixels (at least kQrMinModulePixels) on white; a null
// image when the text is empty or too long for any symbol.
QImage QrCodeImage(std::string_view text, int modulePixels = kQrMinModulePixels);

}  // namespace kasse
