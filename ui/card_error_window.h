#pragma once
// The card error window: the card failed or went. Closing it in any way ends the register;
// the window only says so through closedEndsRegister(), the main window quits on it.

#include <QDialog>

#include "ui/captions.h"

class QLabel;
class QPushButton;

namespace kasse {

class Register;

class CardErrorWindow : public QDialog {
  Q_OBJECT
 public:
  CardErrorWindow(Register& reg, QWidget* parent);

  void Relabel();

  void done(int result) override;

 signals:
  void closedEndsRegister();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Ended();

  Register& reg_;
  QLabel* errorType_;
  QLabel* check_;
  QLabel* ending_;
  QLabel* reason_;
  QPushButton* close_;
  bool ended_ = false;
  CaptionBook captions_;
};

}  // namespace kasse
