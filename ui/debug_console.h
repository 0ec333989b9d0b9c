#pragma once
// The debug console: four switches that change how a cash-in talks to the card, and the hold:
// a TRANSACTION or VERIFY SIGNATURE command shown as hexadecimal text for editing until "Send"
// (the edited command goes) or the console is closed (the command goes as built). The hold
// runs a local event loop, so the other windows stay alive meanwhile.
// "Send" reads the text as the card monitor's commands are read (blanks between bytes or not,
// either case, a lone digit a byte of its own), but refuses a text with any other character:
// the console names it and keeps holding.

#include <QWidget>
#include <string>

#include "protocol/card_link.h"
#include "ui/captions.h"

class QCheckBox;
class QEventLoop;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kasse {

class Register;

class DebugConsole : public QWidget, public DebugHold {
  Q_OBJECT
 public:
  // The register's host lends it as the hold for held commands.
  DebugConsole(Register& reg, QWidget* parent);
  ~DebugConsole() override;

  void Relabel();
  // kHeld also at start, before any command came.
  enum class WaitState { kHeld, kSent, kClosed };
  WaitState DebugWaitState() const { return waitState_; }
  // The menu entry "Verifikation auf QOR" copies its check mark here.
  void SetVerifyOnCard(bool on);
  // Takes the switches from the register (after the main window changed one there).
  void SyncFromRegister();
  QString HeldText() const;
  void SetHeldText(const QString& text);
  // False, with the refusal shown, when the held text is not hexadecimal.
  bool Send();
  bool RefusalShown() const;

  // DebugHold.
  Bytes HoldForDebug(Bytes command) override;
  void HideConsole() override;

 signals:
  // Closing unchecks the manipulation switches; the main window clears its menu check mark.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  Register& reg_;
  QCheckBox* checkHash_;
  QCheckBox* checkVer_;
  QCheckBox* checkManVer_;
  QCheckBox* checkTrans_;
  QPlainTextEdit* sendMemo_;
  QLabel* refusal_;
  QPushButton* send_;
  QEventLoop* hold_ = nullptr;
  WaitState waitState_ = WaitState::kHeld;
  Bytes edited_;  // the held text as sent
  CaptionBook captions_;
};

}  // namespace kasse
