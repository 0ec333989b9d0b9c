#pragma once
// The application clock window: system time on the left, application time on the right, the
// four modes (gleich, synchron, statisch, stellen) and the date and time pickers. Its timer
// ticks the register's clock every second whether the window is shown or not, and reports the
// application time for the main window's labels through appClockShown().

#include <QWidget>

#include "ui/captions.h"

class QButtonGroup;
class QDateEdit;
class QGroupBox;
class QLabel;
class QRadioButton;
class QTimeEdit;
class QTimer;

namespace kasse {

class Register;
enum class ClockMode;

class ClockWindow : public QWidget {
  Q_OBJECT
 public:
  ClockWindow(Register& reg, QWidget* parent);

  void Relabel();
  // TimerSyncTimer: the system labels, the register clock, the pickers, appClockShown().
  void Tick();
  // A click on one of the four mode buttons.
  void ChooseMode(ClockMode mode);
  // What the operator sets in mode stellen.
  void SetPickers(const QDate& date, const QTime& time);

 signals:
  // ShowAppClock: the application time and date as the main window shows them.
  void appClockShown(const QString& time, const QString& date);

 private:
  void PickersEdited();

  Register& reg_;
  QGroupBox* box_;
  QLabel* systemHeading_;
  QLabel* appHeading_;
  QLabel* timeLabel_;
  QLabel* dateLabel_;
  QRadioButton* gleich_;
  QRadioButton* synchron_;
  QRadioButton* statisch_;
  QRadioButton* stellen_;
  QButtonGroup* modes_;
  QTimeEdit* timePicker_;
  QDateEdit* datePicker_;
  QTimer* timer_;
  CaptionBook captions_;
};

}  // namespace kasse
