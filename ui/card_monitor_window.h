#pragma once
// The card monitor window: every card command and answer in the colours of the card log
// (blue headings, dark-red information, red scan failures). The log lives in the register's
// card stack and trims itself; the window refreshes from it.

#include <QColor>
#include <QWidget>
#include <cstddef>
#include <cstdint>

#include "ui/captions.h"

class QAction;
class QMenuBar;
class QTextEdit;
class QTimer;

namespace kasse {

class Register;

// A log colour (0x00BBGGRR, or the window-text marker) as a Qt colour.
QColor MonitorQColor(std::uint32_t colour, const QColor& windowText);

class CardMonitorWindow : public QWidget {
  Q_OBJECT
 public:
  CardMonitorWindow(Register& reg, QWidget* parent);

  void Relabel();
  // The menu entry "Karten-Monitor": logging on, the window shown exactly when checked.
  void ShowMonitor(bool visible);
  void Refresh();
  const QTextEdit* View() const { return view_; }

 signals:
  // Closing ends logging; the main window clears its menu check mark.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  Register& reg_;
  QMenuBar* menu_;
  QAction* clear_;
  QTextEdit* view_;
  QTimer* refresh_;
  std::size_t shownRevision_ = static_cast<std::size_t>(-1);
  CaptionBook captions_;
};

}  // namespace kasse
