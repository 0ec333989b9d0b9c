#pragma once
// The VAT-rate editor: the six container rates as four-digit texts and the tax mode. Rates can
// only change while no sale is open; the containers take them from the next sale on.

#include <QDialog>
#include <array>

#include "ui/captions.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kasse {

class Register;

class VatRateDialog : public QDialog {
  Q_OBJECT
 public:
  VatRateDialog(Register& reg, QWidget* parent);

  void Relabel();
  // Fills the fields from the register; read-only with the notice while a sale is open. Runs on
  // every show.
  void ShowRateEditor();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OkClicked();
  void TaxModeClicked(bool on);

  Register& reg_;
  std::array<QLineEdit*, 6> fields_{};
  std::array<QLabel*, 6> classNames_{};
  QLabel* containerHeading_;
  QLabel* rateHeading_;
  QLabel* classHeading_;
  QLabel* notice_;
  QLabel* problem_;
  QCheckBox* exclusiveTax_;
  QPushButton* ok_;
  QPushButton* cancel_;
  CaptionBook captions_;
};

}  // namespace kasse
