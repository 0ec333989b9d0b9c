#include "ui/receipt_output.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextEdit>

#include "common/cp1252.h"
#include "common/files.h"
#include "picture/receipt_picture.h"
#include "picture/receipt_print_image.h"
#include "receipt/cups_printer.h"
#include "receipt/raw_print_job.h"
#include "receipt/receipt_file.h"
#include "register/register.h"
#include "ui/captions.h"

namespace kasse {

namespace {

void ShowFailure(const Register& reg, QWidget* parent, const Error& error) {
  QMessageBox::warning(parent, QStringLiteral("Kasse"), OperatorMessage(reg.Texts(), error));
}

struct ReceiptView {
  int width = kDefaultReceiptWidth;
  QString selection;
};

ReceiptView FindReceiptView(QWidget* parent) {
  ReceiptView view;
  if (parent == nullptr) return view;
  if (auto* plain = parent->findChild<QPlainTextEdit*>(QStringLiteral("BelegMemo"))) {
    view.width = plain->viewport()->width();
    view.selection = plain->textCursor().selectedText();
  } else if (auto* rich = parent->findChild<QTextEdit*>(QStringLiteral("BelegMemo"))) {
    view.width = rich->viewport()->width();
    view.selection = rich->textCursor().selectedText();
  }
  // A view that was never laid out has no width worth printing at.
  if (view.width < kDefaultReceiptWidth / 2) view.width = kDefaultReceiptWidth;
  return view;
}

std::vector<std::string> SelectedLines(const QString& selection) {
  std::vector<std::string> lines;
  // A text cursor separates the selected paragraphs with U+2029.
  for (const QString& line : selection.split(QChar(0x2029)))
    lines.push_back(Utf8ToCp1252(line.toStdString()));
  return lines;
}

// A receipt held back for its journal record leaves the register in no form; one more try to
// write the record first.
bool ReceiptMayLeave(Register& reg, QWidget* parent) {
  (void)reg.RetryJournal();
  const Result<void> may = reg.ReceiptMayLeave();
  if (!may) ShowFailure(reg, parent, may.error());
  return static_cast<bool>(may);
}

}  // namespace

void PrintReceiptRaw(Register& reg, QWidget* parent) {
  if (Result<void> printed = reg.PrintRaw(); !printed) ShowFailure(reg, parent, printed.error());
}

void PrintReceiptWithDialog(Register& reg, QWidget* parent) {
  if (!ReceiptMayLeave(reg, parent)) return;
  const ReceiptView view = FindReceiptView(parent);
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, parent);
  dialog.setOption(QAbstractPrintDialog::PrintSelection, !view.selection.isEmpty());
  if (dialog.exec() != QDialog::Accepted) return;
  const std::vector<std::string> lines = printer.printRange() == QPrinter::Selection
                                             ? SelectedLines(view.selection)
                                             : reg.CurrentSale().ReceiptLines();
  const QImage image = ReceiptPrintImage(lines, ReceiptCodePicture(reg), view.width);
  const QString target =
      printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName();
  if (Result<void> printed = DrawReceiptOnPage(printer, image, target); !printed)
    ShowFailure(reg, parent, printed.error());
}

void SaveReceiptWithDialog(Register& reg, QWidget* parent) {
  if (!ReceiptMayLeave(reg, parent)) return;
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  dialog.setNameFilter(QStringLiteral("*.txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const std::filesystem::path file = dialog.selectedFiles().front().toStdString();
  if (Result<void> saved = SaveReceiptText(file, reg.CurrentSale().ReceiptText()); !saved)
    ShowFailure(reg, parent, saved.error());
}

}  // namespace kasse
