#pragma once
// Printing and saving the receipt the register shows: raw on the receipt printer's queue
// ([Print] rawQueue of cfg/start.ini), as a picture on any printer or into a PDF file, and as
// a text file. The window variants report failures in a message box on `parent`.

#include <QImage>
#include <QWidget>
#include <filesystem>

#include "common/result.h"
#include "register/register.h"

namespace kasse {

// The QR picture the receipt shows below its text after a cash-in drew one; a null image
// when none was drawn (no cash-in since the receipt was reset, or an empty URL).
QImage ReceiptCodePicture(const Register& reg);

// The receipt text with its empty last lines trimmed, then the printer's own QR code.
void PrintReceiptRaw(Register& reg, QWidget* parent);
// The print dialog, then the receipt picture on the chosen printer. When `parent` holds a
// receipt view named "BelegMemo" with a selection, the range "selection" prints only that text.
void PrintReceiptWithDialog(Register& reg, QWidget* parent);
// A save dialog (default suffix "txt"), then the receipt text byte for byte.
void SaveReceiptWithDialog(Register& reg, QWidget* parent);
// The same drawing as the print dialog's, into a PDF file without asking anything.
Result<void> PrintReceiptPdf(const Register& reg, const std::filesystem::path& pdf);

}  // namespace kasse
