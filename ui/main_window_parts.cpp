// The receipt group with the sale buttons and the right-hand column of the main window.

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "register/register.h"
#include "ui/look.h"
#include "ui/main_window.h"
#include "ui/receipt_view.h"
#include "ui/register_picture.h"
#include "ui/special_position_editor.h"

namespace kasse {

namespace {

constexpr int kRightColumnWidth = 160;

}  // namespace

QWidget* MainWindow::BuildReceiptGroup() {
  auto* group = new QGroupBox(centralWidget());
  group->setObjectName(QStringLiteral("ReceiptGroup"));
  StyleGroup(*group, kReceiptGroupColour);
  captions_.Add(group, 110);
  auto* layout = new QVBoxLayout(group);
  receipt_ = new ReceiptView(group);
  layout->addWidget(receipt_, 1);

  discountBox_ = new QGroupBox(group);
  discountBox_->setObjectName(QStringLiteral("RabABox"));
  StyleGroup(*discountBox_, kPanelColour);
  captions_.Add(discountBox_, 230);
  percent_ = new QLineEdit(QStringLiteral("5"), discountBox_);
  percent_->setMaxLength(2);
  percent_->setFixedWidth(40);
  percent_->setAlignment(Qt::AlignRight);
  editor_->FilterLikePrice(percent_);
  auto* rabatt = new QPushButton(discountBox_);
  auto* aufschlag = new QPushButton(discountBox_);
  captions_.Add(rabatt, 93);
  captions_.Add(aufschlag, 94);
  auto* discountRow = new QHBoxLayout(discountBox_);
  discountRow->addWidget(percent_);
  discountRow->addWidget(new QLabel(QStringLiteral("%"), discountBox_));
  discountRow->addWidget(rabatt);
  discountRow->addWidget(aufschlag);
  layout->addWidget(discountBox_);
  connect(rabatt, &QPushButton::clicked, this, [this] { Percent(PercentSign::kDiscount); });
  connect(aufschlag, &QPushButton::clicked, this, [this] { Percent(PercentSign::kSurcharge); });

  auto* buttons = new QHBoxLayout;
  summe_ = new QPushButton(group);
  storno_ = new QPushButton(group);
  abbruch_ = new QPushButton(group);
  kassieren_ = new QPushButton(group);
  const std::pair<QPushButton*, int> sale[] = {
      {summe_, 111}, {storno_, 92}, {abbruch_, 112}, {kassieren_, 113}};
  for (const auto& [button, tag] : sale) {
    buttons->addWidget(button);
    captions_.Add(button, tag);
    button->setMinimumHeight(34);
  }
  layout->addLayout(buttons);
  connect(summe_, &QPushButton::clicked, this, [this] { Total(1); });
  connect(storno_, &QPushButton::clicked, this, &MainWindow::CancelAtCaret);
  connect(abbruch_, &QPushButton::clicked, this, &MainWindow::Abort);
  connect(kassieren_, &QPushButton::clicked, this, [this] { Report(reg_.Kassieren()); });
  return group;
}

QWidget* MainWindow::BuildRightColumn() {
  auto* column = new QWidget(centralWidget());
  column->setFixedWidth(kRightColumnWidth);
  auto* layout = new QVBoxLayout(column);
  auto* picture = new QLabel(column);
  picture->setPixmap(RegisterPicture(kRightColumnWidth - 20));
  picture->setAlignment(Qt::AlignCenter);
  layout->addWidget(picture);
  dateLabel_ = new QLabel(column);
  timeLabel_ = new QLabel(column);
  idLabel_ = new QLabel(column);
  trainingLabel_ = new QLabel(column);
  for (QLabel* label : {dateLabel_, timeLabel_, idLabel_, trainingLabel_}) {
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
  }
  QFont big = timeLabel_->font();
  big.setPointSize(big.pointSize() + 4);
  big.setBold(true);
  timeLabel_->setFont(big);
  trainingLabel_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
  captions_.Add(trainingLabel_, 71);
  layout->addSpacing(12);
  auto* operators = new QLabel(column);
  operators->setAlignment(Qt::AlignCenter);
  captions_.Add(operators, 40);
  layout->addWidget(operators);
  for (int i = 0; i < 2; ++i) {
    auto* line = new QHBoxLayout;
    operatorNames_[i] = new QLineEdit(column);
    operatorNames_[i]->setMaxLength(int(RegisterConfig::kMaxOperatorName));
    operatorNames_[i]->installEventFilter(this);
    operatorButtons_[i] = new QRadioButton(column);
    line->addWidget(operatorNames_[i]);
    line->addWidget(operatorButtons_[i]);
    layout->addLayout(line);
    captions_.Add(operatorNames_[i], 201 + i, CaptionBook::Kind::kHint);
    connect(operatorButtons_[i], &QRadioButton::toggled, this, [this, i](bool on) {
      if (on) Report(reg_.SelectOperator(i + 1));
    });
    connect(operatorNames_[i], &QLineEdit::editingFinished, this,
            [this, i] { Report(reg_.SetOperatorName(i + 1, ToCore(operatorNames_[i]->text()))); });
  }
  layout->addStretch(1);
  return column;
}

}  // namespace kasse
