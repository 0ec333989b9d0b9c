#include "ui/report_view.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "protocol/card_answers.h"
#include "register/messages.h"
#include "register/register.h"
#include "ui/look.h"

namespace kasse {

namespace {

QString ErrorText(const Language& language, const Result<void>& result) {
  return result ? QString() : OperatorMessage(language, result.error());
}

}  // namespace

ReportView::ReportView(Register& reg, QWidget* parent)
    : QGroupBox(parent),
      reg_(reg),
      daily_(new QPushButton(this)),
      signed_(new QCheckBox(this)),
      cardStart_(new QLabel(this)),
      months_(new QListWidget(this)),
      fetch_(new QPushButton(this)),
      span_(new QPushButton(this)),
      leave_(new QPushButton(this)) {
  setObjectName(QStringLiteral("ReportGroup"));
  StyleGroup(*this, kPaleColour);
  signed_->setChecked(true);
  months_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  months_->setFont(QFont(QStringLiteral("Monospace")));
  auto* startLabel = new QLabel(this);
  auto* monthHeading = new QLabel(this);
  auto* buttons = new QWidget(this);
  buttons->setObjectName(QStringLiteral("ReportButtons"));
  StylePanel(*buttons, kPanelColour);
  auto* buttonLayout = new QVBoxLayout(buttons);
  for (QPushButton* button : {fetch_, span_, leave_})
    buttonLayout->addWidget(button);

  auto* layout = new QGridLayout(this);
  layout->addWidget(daily_, 0, 0);
  layout->addWidget(signed_, 0, 1);
  layout->addWidget(startLabel, 1, 0);
  layout->addWidget(cardStart_, 1, 1);
  layout->addWidget(monthHeading, 2, 0, 1, 2);
  layout->addWidget(months_, 3, 0, 1, 2);
  layout->addWidget(buttons, 4, 0, 1, 2);
  layout->setRowStretch(3, 1);

  captions_.Add(this, 100);
  captions_.Add(daily_, 100);
  captions_.Add(signed_, 101);
  captions_.Add(startLabel, 102);
  captions_.Add(monthHeading, 103);
  captions_.Add(fetch_, 104);
  captions_.Add(span_, 105);
  captions_.Add(leave_, 106);
  connect(daily_, &QPushButton::clicked, this,
          [this] { emit reportDone(ErrorText(reg_.Texts(), DailyClosing())); });
  connect(fetch_, &QPushButton::clicked, this,
          [this] { emit reportDone(ErrorText(reg_.Texts(), FetchMonths())); });
  connect(span_, &QPushButton::clicked, this,
          [this] { emit reportDone(ErrorText(reg_.Texts(), SpanOfSelection())); });
  connect(leave_, &QPushButton::clicked, this, &ReportView::leaveRequested);
}

void ReportView::Relabel() {
  captions_.Apply(reg_.Texts());
}

bool ReportView::MonthsEmpty() const {
  return months_->count() == 0;
}

Result<void> ReportView::DailyClosing() {
  return reg_.DailyClosing(signed_->isChecked() ? ClosingKind::kSigned : ClosingKind::kUnsigned);
}

Result<void> ReportView::FetchMonths() {
  Result<BookedMonths> booked = reg_.ReportMonths();
  if (!booked) return booked.error();
  months_->clear();
  cardStart_->setText(QStringLiteral("%1/%2")
                          .arg(booked->startMonth, 2, 10, QLatin1Char('0'))
                          .arg(booked->startYear, 4, 10, QLatin1Char('0')));
  for (const std::string& line : MonthListLines(*booked))
    months_->addItem(FromCore(line));
  return {};
}

Result<void> ReportView::SpanOfSelection() {
  const int focused = months_->currentRow();
  const int selected = static_cast<int>(months_->selectedItems().size());
  const QListWidgetItem* previous = focused > 0 ? months_->item(focused - 1) : nullptr;
  const auto range = SpanRange(focused, selected, previous != nullptr && previous->isSelected());
  if (!range || range->second >= months_->count())
    return MakeError(ErrorKind::kMissingInput, msg::kSelectSpanMonths);
  const Result<Bytes> first = PackedMonthOfLine(ToCore(months_->item(range->first)->text()));
  const Result<Bytes> last = PackedMonthOfLine(ToCore(months_->item(range->second)->text()));
  if (!first || !last) return MakeError(ErrorKind::kMalformed, msg::kMonthLineForm);
  return reg_.SpanReport(*first, *last);
}

}  // namespace kasse
