#include "ui/vat_rate_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "register/register.h"
#include "ui/look.h"

namespace kasse {
namespace {

constexpr int kRateTag = 86;  // the window caption and the rate column
constexpr int kNoticeTag = 142;
constexpr int kClassHeadingTag = 143;
constexpr int kFirstClassTag = 144;
constexpr int kTaxModeTag = 150;

}  // namespace

VatRateDialog::VatRateDialog(Register& reg, QWidget* parent)
    : QDialog(parent, Qt::Tool),
      reg_(reg),
      containerHeading_(new QLabel(QStringLiteral("Container"), this)),
      rateHeading_(new QLabel(QStringLiteral("UStS"), this)),
      classHeading_(new QLabel(QStringLiteral("UStS - Klassen"), this)),
      notice_(new QLabel(this)),
      problem_(new QLabel(this)),
      exclusiveTax_(new QCheckBox(QStringLiteral("exklusive Steuer"), this)),
      ok_(new QPushButton(QStringLiteral("Ok"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
  setObjectName(QStringLiteral("FormUStS"));
  setWindowTitle(QStringLiteral("UStS"));
  auto* grid = new QGridLayout;
  grid->addWidget(containerHeading_, 0, 0);
  grid->addWidget(rateHeading_, 0, 1);
  grid->addWidget(classHeading_, 0, 2);
  for (int i = 0; i < 6; ++i) {
    fields_[i] = new QLineEdit(this);
    fields_[i]->setObjectName(QStringLiteral("USS%1").arg(i + 1));
    fields_[i]->setInputMask(QStringLiteral("0000"));
    fields_[i]->setMaximumWidth(60);
    classNames_[i] = new QLabel(this);
    grid->addWidget(new QLabel(QString::number(i + 1), this), i + 1, 0, Qt::AlignCenter);
    grid->addWidget(fields_[i], i + 1, 1);
    grid->addWidget(classNames_[i], i + 1, 2);
  }
  exclusiveTax_->setObjectName(QStringLiteral("exSteuerBox"));
  notice_->setObjectName(QStringLiteral("Notice"));
  notice_->setWordWrap(true);
  problem_->setObjectName(QStringLiteral("Problem"));
  problem_->setWordWrap(true);
  problem_->setStyleSheet(QStringLiteral("color: #b00000"));
  ok_->setObjectName(QStringLiteral("OkButton"));
  ok_->setDefault(true);
  cancel_->setObjectName(QStringLiteral("CancelButton"));

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(exclusiveTax_);
  layout->addWidget(notice_);
  layout->addWidget(problem_);
  layout->addLayout(buttons);

  connect(ok_, &QPushButton::clicked, this, &VatRateDialog::OkClicked);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(exclusiveTax_, &QCheckBox::clicked, this, &VatRateDialog::TaxModeClicked);
  captions_.Add(this, kRateTag);
  captions_.Add(rateHeading_, kRateTag);
  captions_.Add(classHeading_, kClassHeadingTag);
  captions_.Add(notice_, kNoticeTag);
  for (int i = 0; i < 6; ++i)
    captions_.Add(classNames_[i], kFirstClassTag + i);
  captions_.Add(exclusiveTax_, kTaxModeTag);
  StylePanel(*this, kPaleColour);
  Relabel();
  ShowRateEditor();
}

void VatRateDialog::Relabel() {
  captions_.Apply(reg_.Texts());
}

void VatRateDialog::ShowRateEditor() {
  const bool saleOpen = !reg_.CurrentSale().NoSaleOpen();
  for (int i = 0; i < 6; ++i) {
    fields_[i]->setText(FromCore(reg_.Config().containerRate[i]));
    fields_[i]->setEnabled(!saleOpen);
  }
  const QSignalBlocker quiet(exclusiveTax_);
  exclusiveTax_->setChecked(reg_.Config().exclusiveTax);
  ok_->setVisible(!saleOpen);
  notice_->setVisible(saleOpen);
  problem_->clear();
  problem_->hide();
}

void VatRateDialog::showEvent(QShowEvent* event) {
  ShowRateEditor();
  QDialog::showEvent(event);
}

void VatRateDialog::OkClicked() {
  std::array<std::string, 6> rates;
  for (int i = 0; i < 6; ++i)
    rates[i] = ToCore(fields_[i]->text());
  if (auto set = reg_.SetRates(rates); !set) {
    problem_->setText(OperatorMessage(reg_.Texts(), set.error()));
    problem_->show();
    return;
  }
  accept();
}

void VatRateDialog::TaxModeClicked(bool on) {
  if (auto set = reg_.SetSwitch(Register::Switch::kExclusiveTax, on); !set) {
    // The register keeps the mode of an open sale; the box shows what holds.
    const QSignalBlocker quiet(exclusiveTax_);
    exclusiveTax_->setChecked(reg_.Config().exclusiveTax);
    problem_->setText(OperatorMessage(reg_.Texts(), set.error()));
    problem_->show();
  }
}

}  // namespace kasse
