#pragma once
// The function monitor window: shows the register's function monitor log, read-only, and saves
// it as rich text or clears it. The log lives in the register; the window refreshes from it.

#include <QWidget>
#include <cstddef>
#include <filesystem>
#include <string>

#include "common/result.h"
#include "ui/captions.h"

class QAction;
class QMenuBar;
class QPlainTextEdit;
class QTimer;

namespace kasse {

class Register;

class FunctionMonitorWindow : public QWidget {
  Q_OBJECT
 public:
  FunctionMonitorWindow(Register& reg, QWidget* parent);

  void Relabel();
  // Re-reads the log when it changed since the last look.
  void Refresh();
  QString ShownText() const;
  // "Speichern" without the dialog.
  Result<void> SaveTo(const std::filesystem::path& file) const;

 signals:
  // The close button hides the window; the main window clears its menu check mark.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void SaveClicked();
  void ClearClicked();

  Register& reg_;
  QMenuBar* menu_;
  QAction* save_;
  QAction* clear_;
  QPlainTextEdit* view_;
  QTimer* refresh_;
  std::size_t shownRevision_ = static_cast<std::size_t>(-1);
  std::string shown_;  // the log as the view shows it (cp1252)
  CaptionBook captions_;
};

}  // namespace kasse
