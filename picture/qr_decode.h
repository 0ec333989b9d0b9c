#pragma once
// Reading a QR code back from a picture, as the scanner does and the tests check.

#include <QImage>
#include <optional>
#include <string>

namespace kasse {

// The text of the first QR code found in the picture (UTF-8); nothing when none can be read.
std::optional<std::string> DecodeQrPicture(const QImage& picture);

}  // namespace kasse
