#pragma once
// The start-up splash: a title, a gauge that fills in 400 ms and the warning that this is only a
// simulation. It stays for the life of the program and is hidden once the card check is done.

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

  // 0..100; the timer raises it by 20 every 100 ms until it is full.
  void SetProgress(int percent);
  int Progress() const;
  void SetWarning(const QString& text);
  QString Warning() const;
  void Relabel(const Language& texts);
  // The card check has finished: stop the gauge and go.
  void Finish();

 private:
  void Step();

  QLabel* title_;
  QProgressBar* gauge_;
  QTextEdit* warning_;
  QTimer* timer_;
  CaptionBook captions_;
};

}  // namespace kasse
