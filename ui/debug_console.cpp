#include "ui/debug_console.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QVBoxLayout>
#include <array>
#include <utility>

#include "common/card_commands.h"
#include "common/hex_text.h"
#include "register/register.h"

namespace kasse {
namespace {

constexpr int kHashTag = 400;
constexpr int kVerTag = 401;
constexpr int kManVerTag = 402;
constexpr int kTransTag = 403;
constexpr int kSendTag = 404;
constexpr int kRefusalTag = 405;

// Where the held text has a character that is neither a hex digit nor a blank; -1: nowhere.
// The lenient reading would take it for a 0 and send a command nobody wrote.
qsizetype FirstNonHex(const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    const bool hex =
        (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    if (!hex && c != u' ') return i;
  }
  return -1;
}

}  // namespace

DebugConsole::DebugConsole(Register& reg, QWidget* parent)
    : QWidget(parent, Qt::Window),
      reg_(reg),
      checkHash_(new QCheckBox(QStringLiteral("Hashen auf QOR"), this)),
      checkVer_(new QCheckBox(QStringLiteral("Verifikation auf QOR"), this)),
      checkManVer_(new QCheckBox(QStringLiteral("Datensatzmanipulation"), this)),
      checkTrans_(new QCheckBox(QStringLiteral("Transaktionsmanipulation"), this)),
      sendMemo_(new QPlainTextEdit(this)),
      refusal_(new QLabel(this)),
      send_(new QPushButton(QStringLiteral("Send"), this)) {
  setObjectName(QStringLiteral("DebugForm"));
  setWindowTitle(QStringLiteral("Debug"));
  checkHash_->setObjectName(QStringLiteral("CheckHash"));
  checkVer_->setObjectName(QStringLiteral("CheckVer"));
  checkManVer_->setObjectName(QStringLiteral("CheckManVer"));
  checkTrans_->setObjectName(QStringLiteral("CheckTrans"));
  sendMemo_->setObjectName(QStringLiteral("SendMemo"));
  sendMemo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  refusal_->setObjectName(QStringLiteral("RefusalLabel"));
  refusal_->setWordWrap(true);
  refusal_->setStyleSheet(QStringLiteral("color: #C00000"));
  refusal_->hide();
  send_->setObjectName(QStringLiteral("SendButton"));

  auto* layout = new QVBoxLayout(this);
  // Each box changes only its own switch: the main menu sets "Verifikation auf QOR" in the
  // register too, and a click here must not undo it.
  using Switch = Register::Switch;
  const std::array<std::pair<QCheckBox*, Switch>, 4> boxes{{
      {checkHash_, Switch::kHashOnCard},
      {checkVer_, Switch::kVerifyOnCard},
      {checkManVer_, Switch::kManipulateRecord},
      {checkTrans_, Switch::kManipulateTransaction},
  }};
  for (const auto& [box, which] : boxes) {
    layout->addWidget(box);
    connect(box, &QCheckBox::toggled, this,
            [this, which](bool on) { (void)reg_.SetSwitch(which, on); });
  }
  layout->addWidget(sendMemo_, 1);
  layout->addWidget(refusal_);
  layout->addWidget(send_, 0, Qt::AlignRight);
  resize(480, 320);

  // Arming a manipulation switch makes the next command wait, as at creation.
  for (QCheckBox* box : {checkManVer_, checkTrans_})
    connect(box, &QCheckBox::clicked, this, [this](bool on) {
      if (on) waitState_ = WaitState::kHeld;
    });
  connect(send_, &QPushButton::clicked, this, &DebugConsole::Send);
  captions_.Add(checkHash_, kHashTag);
  captions_.Add(checkVer_, kVerTag);
  captions_.Add(checkManVer_, kManVerTag);
  captions_.Add(checkTrans_, kTransTag);
  captions_.Add(send_, kSendTag);
  captions_.Add(refusal_, kRefusalTag);
  SyncFromRegister();
  Relabel();
}

DebugConsole::~DebugConsole() {
  if (hold_ != nullptr) hold_->quit();
}

void DebugConsole::Relabel() {
  captions_.Apply(reg_.Texts());
}

void DebugConsole::SetVerifyOnCard(bool on) {
  checkVer_->setChecked(on);
}

void DebugConsole::SyncFromRegister() {
  const DebugSwitches& switches = reg_.Switches();
  const QSignalBlocker a(checkHash_), b(checkVer_), c(checkManVer_), d(checkTrans_);
  checkHash_->setChecked(switches.checkHash);
  checkVer_->setChecked(switches.checkVer);
  checkManVer_->setChecked(switches.checkManVer);
  checkTrans_->setChecked(switches.checkTrans);
}

QString DebugConsole::HeldText() const {
  return sendMemo_->toPlainText();
}

void DebugConsole::SetHeldText(const QString& text) {
  sendMemo_->setPlainText(text);
}

bool DebugConsole::Send() {
  const QString text = HeldText();
  if (const qsizetype bad = FirstNonHex(text); bad >= 0) {
    QTextCursor cursor = sendMemo_->textCursor();
    cursor.setPosition(static_cast<int>(bad));
    cursor.setPosition(static_cast<int>(bad + 1), QTextCursor::KeepAnchor);
    sendMemo_->setTextCursor(cursor);
    sendMemo_->setFocus();
    refusal_->show();
    return false;
  }
  refusal_->hide();
  edited_ = HexParse(ToCore(text));
  waitState_ = WaitState::kSent;
  if (hold_ != nullptr) hold_->quit();
  return true;
}

bool DebugConsole::RefusalShown() const {
  return !refusal_->isHidden();
}

Bytes DebugConsole::HoldForDebug(Bytes command) {
  if (hold_ != nullptr) return command;  // one hold at a time; a nested one passes through
  show();
  raise();
  SetHeldText(FromCore(CommandText(command)));
  refusal_->hide();
  waitState_ = WaitState::kHeld;
  QPointer<DebugConsole> alive(this);
  QEventLoop loop;
  hold_ = &loop;
  // The loop also ends when the application quits; the command then goes as built.
  loop.exec();
  if (alive.isNull()) return command;
  hold_ = nullptr;
  if (waitState_ == WaitState::kSent) return std::move(edited_);
  return command;
}

void DebugConsole::HideConsole() {
  hide();
}

void DebugConsole::closeEvent(QCloseEvent* event) {
  waitState_ = WaitState::kClosed;
  checkTrans_->setChecked(false);
  checkManVer_->setChecked(false);
  if (hold_ != nullptr) hold_->quit();
  event->accept();
  emit closed();
}

void DebugConsole::showEvent(QShowEvent* event) {
  SyncFromRegister();
  QWidget::showEvent(event);
}

}  // namespace kasse
