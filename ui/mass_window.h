#pragma once
// The mass-transaction window: random sales through the register's own operations, with a
// gauge. The run keeps the windows alive by processing events after each position; Stop (or
// hiding the window) ends it after the position in progress, whose sale is still cashed in. The
// number of sales is read once, at Start; the other fields each time they are used.

#include <QDialog>
#include <atomic>

#include "register/register.h"
#include "ui/captions.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace kasse {

class MassWindow : public QDialog {
  Q_OBJECT
 public:
  MassWindow(Register& reg, QWidget* parent);

  void Relabel();
  bool Running() const { return running_; }
  // The number of sales cashed in by the last run.
  int Completed() const { return completed_; }

  void StartRun();
  void StopRun();
  // Fills the field "number of transactions", as the user would before Start.
  void SetTransactions(int count);

 signals:
  void runFinished(int completed);

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  void Progress(int done, int total);
  // Every field but the number of sales.
  Result<void> ReadFields(Register::MassOptions& options) const;
  void ShowProblem(const Error& error);

  Register& reg_;
  QLineEdit* maxPositions_;
  QLineEdit* transactions_;
  QLineEdit* stornoChance_;
  QLineEdit* maxQuantity_;
  QCheckBox* switchOperator_;
  QLabel* maxPositionsLabel_;
  QLabel* transactionsLabel_;
  QLabel* stornoLabel_;
  QLabel* quantityLabel_;
  QLabel* problem_;
  QProgressBar* gauge_;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* cancel_;
  std::atomic<bool> stopFlag_{false};
  bool running_ = false;
  int completed_ = 0;
  int refused_ = 0;  // of the completed, sales the card refused
  CaptionBook captions_;
};

}  // namespace kasse
