// The batch commands that print the receipt or read its QR code back: print-raw [FILE],
// print-pdf FILE and scan.

#include <QCoreApplication>
#include <QGuiApplication>
#include <ostream>

#include "app/batch_runner.h"
#include "picture/qr_decode.h"
#include "picture/receipt_picture.h"
#include "receipt/cups_printer.h"
#include "receipt/raw_print_job.h"
#include "receipt/receipt_file.h"

namespace kasse {

namespace {

// QGuiApplication keeps references to its arguments, so they live beside it. The batch draws
// into pictures and files only: no window, so the offscreen platform, whatever the display.
struct PictureSupport {
  int argc = 3;
  char name[6] = "kasse";
  char platformOption[10] = "-platform";
  char platform[10] = "offscreen";
  char* argv[4] = {name, platformOption, platform, nullptr};
  QGuiApplication app{argc, argv};
};

}  // namespace

void BatchRunner::EnsurePictureSupport() {
  if (QCoreApplication::instance() != nullptr) return;
  pictureSupport_ = std::make_shared<PictureSupport>();
}

Result<void> BatchRunner::OutputCommand(const BatchLine& line, bool& handled) {
  handled = true;
  const std::string& c = line.command;
  const auto& a = line.arguments;
  Register& r = *register_;
  if (c == "print-raw" || c == "print-pdf" || c == "scan")
    if (auto may = r.ReceiptMayLeave(); !may) return may;
  if (c == "print-raw") {
    if (a.size() > 1) return MakeError(ErrorKind::kMissingInput, "usage: print-raw [FILE]");
    return r.PrintRaw(a.empty() ? std::filesystem::path() : std::filesystem::path(a[0]));
  }
  if (c == "print-pdf") {
    if (a.size() != 1) return MakeError(ErrorKind::kMissingInput, "usage: print-pdf FILE");
    EnsurePictureSupport();
    return PrintReceiptPdf(r, a[0]);
  }
  if (c == "scan") {
    if (!a.empty()) return MakeError(ErrorKind::kUnusableInput, "usage: scan");
    EnsurePictureSupport();
    const Result<std::string> read = DecodeQrPicture(ReceiptCodePicture(r));
    if (!read) return read.error();
    out_ << *read << "\n";
    return {};
  }
  handled = false;
  return {};
}

}  // namespace kasse
