#include "ui/card_error_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "register/register.h"

namespace kasse {
namespace {

constexpr int kErrorTypeTag = 130;
constexpr int kCheckTag = 131;
constexpr int kEndingTag = 132;

}  // namespace

CardErrorWindow::CardErrorWindow(Register& reg, QWidget* parent)
    : QDialog(parent),
      reg_(reg),
      errorType_(new QLabel(QStringLiteral("Fehler in der Kartenkommunikation!"), this)),
      check_(new QLabel(QStringLiteral("\u00DCberpr\u00FCfen sie das QOR"), this)),
      ending_(new QLabel(QStringLiteral("Die Anwendung wird beendet."), this)),
      reason_(new QLabel(this)),
      close_(new QPushButton(QStringLiteral("Close"), this)) {
  setObjectName(QStringLiteral("CardErrForm"));
  setWindowTitle(QStringLiteral("Card Error"));
  errorType_->setObjectName(QStringLiteral("ErrTypeLabel"));
  errorType_->setAutoFillBackground(true);
  errorType_->setStyleSheet(QStringLiteral("background: #ff0000; color: white; padding: 6px"));
  errorType_->setAlignment(Qt::AlignCenter);
  reason_->setObjectName(QStringLiteral("Reason"));
  reason_->setWordWrap(true);
  close_->setObjectName(QStringLiteral("CloseButton"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(errorType_);
  layout->addWidget(check_);
  layout->addWidget(reason_);
  layout->addWidget(ending_);
  layout->addWidget(close_, 0, Qt::AlignCenter);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  captions_.Add(errorType_, kErrorTypeTag);
  captions_.Add(check_, kCheckTag);
  captions_.Add(ending_, kEndingTag);
  Relabel();
}

void CardErrorWindow::Relabel() {
  captions_.Apply(reg_.Texts());
}

void CardErrorWindow::done(int result) {
  QDialog::done(result);
  Ended();
}

void CardErrorWindow::showEvent(QShowEvent* event) {
  // What happened (the card went, its reader, the PC/SC service, ...), in the operator's
  // language; a cause without a text of its own shows its English form.
  const std::optional<Error>& failure = reg_.Card().Failure();
  reason_->setText(failure ? OperatorMessage(reg_.Texts(), *failure) : QString());
  reason_->setVisible(failure.has_value());
  QDialog::showEvent(event);
}

void CardErrorWindow::closeEvent(QCloseEvent* event) {
  QDialog::closeEvent(event);
  Ended();
}

void CardErrorWindow::Ended() {
  // Accept, reject, Escape and the close button all come here; the register ends only once.
  if (ended_) return;
  ended_ = true;
  emit closedEndsRegister();
}

}  // namespace kasse
