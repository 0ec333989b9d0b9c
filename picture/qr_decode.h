#pragma once
// Reading a QR code back from a picture, as the scanner does and the tests check.

#include <QImage>
#include <string>

#include "common/result.h"

namespace kasse {

// The text of the first QR code found in the picture (UTF-8); an error when the picture is
// empty or holds no readable code.
Result<std::string> DecodeQrPicture(const QImage& picture);

}  // namespace kasse
