#pragma once
// Printing and saving the receipt the register shows: raw on the receipt printer's queue
// ([Print] rawQueue of cfg/start.ini), as a picture on a printer chosen in the print dialog,
// and as a text file. Failures show in a message box on `parent`. The picture itself and the
// PDF are in picture/receipt_picture.h.

#include <QWidget>

#include "register/register.h"

namespace kasse {

// The receipt text with its empty last lines trimmed, then the printer's own QR code.
void PrintReceiptRaw(Register& reg, QWidget* parent);
// The print dialog, then the receipt picture on the chosen printer. When `parent` holds a
// receipt view named "BelegMemo" with a selection, the range "selection" prints only that text.
void PrintReceiptWithDialog(Register& reg, QWidget* parent);
// A save dialog (default suffix "txt"), then the receipt text byte for byte.
void SaveReceiptWithDialog(Register& reg, QWidget* parent);

}  // namespace kasse
