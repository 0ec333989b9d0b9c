#pragma once
// The picture at the top of the main window's right-hand column: a register receipt with its
// QR code and a security card, drawn at run time so that no image file is needed.

#include <QPixmap>

namespace kasse {

QPixmap RegisterPicture(int width);

}  // namespace kasse
