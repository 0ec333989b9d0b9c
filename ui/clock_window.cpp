#include "ui/clock_window.h"

#include <QButtonGroup>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <array>

#include "common/app_clock.h"
#include "register/register.h"
#include "ui/look.h"

namespace kasse {
namespace {

constexpr int kWindowTag = 23;
constexpr int kSystemTag = 24;
constexpr int kAppTag = 25;
constexpr int kFirstModeTag = 26;  // gleich, synchron, statisch, stellen
constexpr int kTimePickerTag = 31;
constexpr int kDatePickerTag = 32;
constexpr int kTickMs = 1000;

QDate DateOf(AppDateTime value) {
  const CivilDateTime civil = ToCivil(value);
  return QDate(civil.year, civil.month, civil.day);
}

QTime TimeOf(AppDateTime value) {
  const CivilDateTime civil = ToCivil(value);
  return QTime(civil.hour, civil.minute, civil.second);
}

AppDateTime ValueOf(const QDate& date, const QTime& time) {
  CivilDateTime civil;
  civil.year = date.year();
  civil.month = date.month();
  civil.day = date.day();
  civil.hour = time.hour();
  civil.minute = time.minute();
  civil.second = time.second();
  return ToAppDateTime(civil);
}

QString TimeText(const QTime& time) {
  return time.toString(QStringLiteral("HH:mm:ss"));
}
QString DateText(const QDate& date) {
  return QLocale().toString(date, QLocale::ShortFormat);
}

}  // namespace

ClockWindow::ClockWindow(Register& reg, QWidget* parent)
    : QWidget(parent, Qt::Tool),
      reg_(reg),
      box_(new QGroupBox(this)),
      systemHeading_(new QLabel(QStringLiteral("Systemzeit"), box_)),
      appHeading_(new QLabel(QStringLiteral("Anwendungszeit"), box_)),
      timeLabel_(new QLabel(box_)),
      dateLabel_(new QLabel(box_)),
      gleich_(new QRadioButton(QStringLiteral("gleich"), box_)),
      synchron_(new QRadioButton(QStringLiteral("synchron"), box_)),
      statisch_(new QRadioButton(QStringLiteral("statisch"), box_)),
      stellen_(new QRadioButton(QStringLiteral("stellen"), box_)),
      modes_(new QButtonGroup(this)),
      timePicker_(new QTimeEdit(box_)),
      datePicker_(new QDateEdit(box_)),
      timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("TimeF"));
  setWindowTitle(QStringLiteral("Systemzeit"));
  box_->setObjectName(QStringLiteral("ZeitBox"));
  timeLabel_->setObjectName(QStringLiteral("TimeLabel"));
  dateLabel_->setObjectName(QStringLiteral("DateLabel"));
  timePicker_->setObjectName(QStringLiteral("TimePicker"));
  timePicker_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  datePicker_->setObjectName(QStringLiteral("DatePicker"));
  datePicker_->setCalendarPopup(true);
  const std::array<QRadioButton*, 4> buttons{gleich_, synchron_, statisch_, stellen_};
  const std::array<const char*, 4> names{"GlButton", "SynButton", "StatButton", "SetButton"};
  for (int i = 0; i < 4; ++i) {
    buttons[i]->setObjectName(QString::fromLatin1(names[i]));
    modes_->addButton(buttons[i], i);
  }

  auto* grid = new QGridLayout(box_);
  grid->addWidget(systemHeading_, 0, 0);
  grid->addWidget(appHeading_, 0, 1);
  grid->addWidget(timeLabel_, 1, 0);
  grid->addWidget(timePicker_, 1, 1);
  grid->addWidget(dateLabel_, 2, 0);
  grid->addWidget(datePicker_, 2, 1);
  for (int i = 0; i < 4; ++i)
    grid->addWidget(buttons[i], 3 + i / 2, i % 2);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box_);

  gleich_->setChecked(true);
  timePicker_->setEnabled(false);
  datePicker_->setEnabled(false);
  connect(modes_, &QButtonGroup::idClicked, this,
          [this](int id) { ChooseMode(static_cast<ClockMode>(id)); });
  connect(timePicker_, &QTimeEdit::timeChanged, this, &ClockWindow::PickersEdited);
  connect(datePicker_, &QDateEdit::dateChanged, this, &ClockWindow::PickersEdited);
  connect(timer_, &QTimer::timeout, this, &ClockWindow::Tick);
  timer_->start(kTickMs);
  captions_.Add(this, kSystemTag);
  captions_.Add(box_, kWindowTag);
  captions_.Add(systemHeading_, kSystemTag);
  captions_.Add(appHeading_, kAppTag);
  for (int i = 0; i < 4; ++i)
    captions_.Add(buttons[i], kFirstModeTag + i);
  captions_.Add(timePicker_, kTimePickerTag, CaptionBook::Kind::kHint);
  captions_.Add(datePicker_, kDatePickerTag, CaptionBook::Kind::kHint);
  StylePanel(*this, kPaleColour);
  StyleGroup(*box_, kGradientFrom);
  Relabel();
  Tick();
}

void ClockWindow::Relabel() {
  captions_.Apply(reg_.Texts());
}

void ClockWindow::Tick() {
  const AppClock& clock = reg_.Clock();
  const AppDateTime now = clock.Now();
  timeLabel_->setText(TimeText(TimeOf(now)));
  dateLabel_->setText(DateText(DateOf(now)));
  reg_.TickClock();
  if (clock.Mode() == ClockMode::kGleich || clock.Mode() == ClockMode::kSynchron) {
    const QSignalBlocker quietTime(timePicker_), quietDate(datePicker_);
    timePicker_->setTime(TimeOf(clock.PickerTime()));
    datePicker_->setDate(DateOf(clock.PickerDate()));
  }
  emit appClockShown(TimeText(timePicker_->time()), DateText(datePicker_->date()));
}

void ClockWindow::ChooseMode(ClockMode mode) {
  const std::array<QRadioButton*, 4> buttons{gleich_, synchron_, statisch_, stellen_};
  buttons[static_cast<int>(mode)]->setChecked(true);
  if (mode == ClockMode::kStellen) PickersEdited();  // the pickers start as they stand
  reg_.SetClockMode(mode);
  const bool editing = mode == ClockMode::kStellen;
  timePicker_->setEnabled(editing);
  datePicker_->setEnabled(editing);
}

void ClockWindow::SetPickers(const QDate& date, const QTime& time) {
  datePicker_->setDate(date);
  timePicker_->setTime(time);
  PickersEdited();
}

void ClockWindow::PickersEdited() {
  const AppDateTime value = ValueOf(datePicker_->date(), timePicker_->time());
  reg_.SetClockPickers(value);
}

}  // namespace kasse
