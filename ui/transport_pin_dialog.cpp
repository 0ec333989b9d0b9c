#include "ui/transport_pin_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "protocol/protocol_messages.h"
#include "register/register.h"
#include "ui/look.h"

namespace kasse {
namespace {

constexpr int kPinTag = 120;
constexpr int kPinDigits = 6;

}  // namespace

TransportPinDialog::TransportPinDialog(Register& reg, QWidget* parent)
    : QDialog(parent, Qt::Tool),
      reg_(reg),
      caption_(new QLabel(QStringLiteral("Transport PIN"), this)),
      pin_(new QLineEdit(this)),
      problem_(new QLabel(this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)) {
  setObjectName(QStringLiteral("PINForm"));
  setWindowTitle(QStringLiteral("PIN"));
  pin_->setObjectName(QStringLiteral("PINEdit"));
  pin_->setInputMask(QStringLiteral("000000"));
  pin_->setEchoMode(QLineEdit::Password);
  problem_->setObjectName(QStringLiteral("Problem"));
  problem_->setStyleSheet(QStringLiteral("color: #b00000"));
  problem_->setWordWrap(true);
  problem_->hide();
  ok_->setObjectName(QStringLiteral("PINButton"));
  ok_->setDefault(true);  // Enter in the field acts as the button; Escape closes the window

  auto* row = new QHBoxLayout;
  row->addWidget(pin_);
  row->addWidget(ok_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(caption_);
  layout->addLayout(row);
  layout->addWidget(problem_);
  connect(ok_, &QPushButton::clicked, this, [this] { (void)Confirm(); });
  captions_.Add(caption_, kPinTag);
  StylePanel(*this, kPaleColour);
  Relabel();
}

void TransportPinDialog::Relabel() {
  captions_.Apply(reg_.Texts());
}

void TransportPinDialog::SetPin(const QString& digits) {
  pin_->setText(digits);
}

bool TransportPinDialog::Confirm() {
  const std::string pin = pin_->text().toStdString();
  if (static_cast<int>(pin.size()) != kPinDigits) {
    problem_->setText(OperatorMessage(
        reg_.Texts(), MakeError(ErrorKind::kUnusableInput, protocol_msg::kPinSixDigits)));
    problem_->show();
    return false;
  }
  if (auto activated = reg_.Activate(pin); !activated) {
    problem_->setText(OperatorMessage(reg_.Texts(), activated.error()));
    problem_->show();
    pin_->clear();
    pin_->setFocus();
    return false;
  }
  problem_->hide();
  accept();
  return true;
}

QString TransportPinDialog::Problem() const {
  return problem_->isHidden() ? QString() : problem_->text();
}

int TransportPinDialog::exec() {
  if (reg_.Card().Checked()) return QDialog::exec();
  if (!deferred_) {
    deferred_ = true;
    QTimer::singleShot(0, this, [this] {
      deferred_ = false;
      if (reg_.Card().Checked() && reg_.Card().TransportPinRequested()) (void)exec();
    });
  }
  return QDialog::Rejected;
}

void TransportPinDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  pin_->setFocus();
}

}  // namespace kasse
