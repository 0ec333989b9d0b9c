#pragma once
// Reading QR codes back from a picture: the scanner window, batch `scan` and the verifier's
// `image` command.

#include <QImage>
#include <string>
#include <vector>

#include "common/result.h"

namespace kasse {

// The text of the first QR code found in the picture (UTF-8); an error when the picture is
// empty or holds no readable code.
Result<std::string> DecodeQrPicture(const QImage& picture);

// The texts of every QR code in the picture (UTF-8), also turned or mirrored ones; none is
// an empty list.
std::vector<std::string> ReadQrCodes(const QImage& picture);

}  // namespace kasse
