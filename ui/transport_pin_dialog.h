#pragma once
// The transport-PIN window: six digits that activate a personalised card. It closes when the
// activation succeeded; a wrong PIN leaves it open with the card's refusal shown.

#include <QDialog>

#include "ui/captions.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kasse {

class Register;

class TransportPinDialog : public QDialog {
  Q_OBJECT
 public:
  TransportPinDialog(Register& reg, QWidget* parent);

  void Relabel();
  void SetPin(const QString& digits);
  // The "OK" button: activates with the six digits; true when the card took them.
  bool Confirm();
  QString Problem() const;
  // Asked for during the card start-up, whose check has not finished yet (the activation would
  // be refused), the window comes as soon as the event loop runs again.
  int exec() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  Register& reg_;
  QLabel* caption_;
  QLineEdit* pin_;
  QLabel* problem_;
  QPushButton* ok_;
  bool deferred_ = false;
  CaptionBook captions_;
};

}  // namespace kasse
