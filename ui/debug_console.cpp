#include "ui/debug_console.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
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

}  // namespace

DebugConsole::DebugConsole(Register& reg, QWidget* parent)
    : QWidget(parent, Qt::Window),
      reg_(reg),
      checkHash_(new QCheckBox(QStringLiteral("Hashen auf QOR"), this)),
      checkVer_(new QCheckBox(QStringLiteral("Verifikation auf QOR"), this)),
      checkManVer_(new QCheckBox(QStringLiteral("Datensatzmanipulation"), this)),
      checkTrans_(new QCheckBox(QStringLiteral("Transaktionsmanipulation"), this)),
      sendMemo_(new QPlainTextEdit(this)),
      send_(new QPushButton(QStringLiteral("Send"), this)) {
  setObjectName(QStringLiteral("DebugForm"));
  setWindowTitle(QStringLiteral("Debug"));
  checkHash_->setObjectName(QStringLiteral("CheckHash"));
  checkVer_->setObjectName(QStringLiteral("CheckVer"));
  checkManVer_->setObjectName(QStringLiteral("CheckManVer"));
  checkTrans_->setObjectName(QStringLiteral("CheckTrans"));
  sendMemo_->setObjectName(QStringLiteral("SendMemo"));
  sendMemo_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
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

void DebugConsole::Send() {
  waitState_ = WaitState::kSent;
  if (hold_ != nullptr) hold_->quit();
}

Bytes DebugConsole::HoldForDebug(Bytes command) {
  if (hold_ != nullptr) return command;  // one hold at a time; a nested one passes through
  show();
  raise();
  SetHeldText(FromCore(CommandText(command)));
  waitState_ = WaitState::kHeld;
  QPointer<DebugConsole> alive(this);
  QEventLoop loop;
  hold_ = &loop;
  // The loop also ends when the application quits; the command then goes as built.
  loop.exec();
  if (alive.isNull()) return command;
  hold_ = nullptr;
  if (waitState_ == WaitState::kSent) return HexParse(ToCore(HeldText()));
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
