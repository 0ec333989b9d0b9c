#pragma once
// The start-up splash: a title, a gauge that fills in 400 ms and the warning that this is only a
// simulation. It stays for the life of the program and is hidden once the card check is done.

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include "ui/captions.h"

class QLabel;
class QProgressBar;
class QTextEdit;
class QTimer;

namespace kasse {

class Language;

class SplashWindow : public QWidget {
  Q_OBJECT
 public:
  explicit SplashWindow(QWidget* parent = nullptr);

  // 0..100; from 20 at its creation it rises by 20 every 100 ms until it is full: 20, 40, 60,
  // 80 and 100 at 0, 100, 200, 300 and 400 ms. It counts the time passed, so a tick the event
  // loop could not give in time is not lost.
  void SetProgress(int percent);
  int Progress() const;
  void SetWarning(const QString& text);
  QString Warning() const;
  void Relabel(const Language& texts);
  // The card check has finished: the gauge shows the time passed, stops, and the splash goes.
  void Finish();

 private:
  void Step();

  QLabel* title_;
  QProgressBar* gauge_;
  QTextEdit* warning_;
  QTimer* timer_;
  QElapsedTimer since_;
  CaptionBook captions_;
};

}  // namespace kasse
