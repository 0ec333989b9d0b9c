#include "ui/mass_window.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

#include "common/amount.h"
#include "register/messages.h"
#include "register/register.h"
#include "ui/look.h"

namespace kasse {
namespace {

constexpr int kMaxPositionsTag = 350;
constexpr int kTransactionsTag = 351;
constexpr int kStornoTag = 352;
constexpr int kQuantityTag = 353;
constexpr int kSwitchOperatorTag = 355;

std::optional<int> WholeNumber(const QLineEdit* field) {
  const Result<std::int64_t> value = ParseInteger(field->text().trimmed().toStdString());
  if (!value || *value < 0 || *value > 1000000000) return std::nullopt;
  return static_cast<int>(*value);
}

}  // namespace

MassWindow::MassWindow(Register& reg, QWidget* parent)
    : QDialog(parent),
      reg_(reg),
      maxPositions_(new QLineEdit(QStringLiteral("100"), this)),
      transactions_(new QLineEdit(QStringLiteral("1000"), this)),
      stornoChance_(new QLineEdit(QStringLiteral("300"), this)),
      maxQuantity_(new QLineEdit(QStringLiteral("5"), this)),
      switchOperator_(new QCheckBox(this)),
      maxPositionsLabel_(new QLabel(this)),
      transactionsLabel_(new QLabel(this)),
      stornoLabel_(new QLabel(this)),
      quantityLabel_(new QLabel(this)),
      problem_(new QLabel(this)),
      gauge_(new QProgressBar(this)),
      start_(new QPushButton(QStringLiteral("Start"), this)),
      stop_(new QPushButton(QStringLiteral("Stop"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
  setObjectName(QStringLiteral("MassTransForm"));
  setWindowTitle(QStringLiteral("Mass-Transactions"));
  maxPositions_->setObjectName(QStringLiteral("kTrBuchEdit"));
  transactions_->setObjectName(QStringLiteral("kTrEdit"));
  stornoChance_->setObjectName(QStringLiteral("kStornoEdit"));
  maxQuantity_->setObjectName(QStringLiteral("sStk"));
  switchOperator_->setObjectName(QStringLiteral("sCheckBed"));
  switchOperator_->setChecked(true);
  problem_->setObjectName(QStringLiteral("Problem"));
  problem_->setStyleSheet(QStringLiteral("color: #b00000"));
  problem_->hide();
  gauge_->setObjectName(QStringLiteral("Progr"));
  gauge_->setRange(0, 1);
  gauge_->setValue(0);
  start_->setObjectName(QStringLiteral("StartButton"));
  stop_->setObjectName(QStringLiteral("StopButton"));
  cancel_->setObjectName(QStringLiteral("CancelButton"));
  stop_->setEnabled(false);
  start_->setAutoDefault(false);
  stop_->setAutoDefault(false);
  cancel_->setAutoDefault(false);

  auto* form = new QFormLayout;
  form->addRow(maxPositionsLabel_, maxPositions_);
  form->addRow(transactionsLabel_, transactions_);
  form->addRow(stornoLabel_, stornoChance_);
  form->addRow(quantityLabel_, maxQuantity_);
  form->addRow(switchOperator_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addStretch();
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(gauge_);
  layout->addWidget(problem_);
  layout->addLayout(buttons);

  connect(start_, &QPushButton::clicked, this, &MassWindow::StartRun);
  connect(stop_, &QPushButton::clicked, this, &MassWindow::StopRun);
  connect(cancel_, &QPushButton::clicked, this, &QWidget::hide);
  captions_.Add(maxPositionsLabel_, kMaxPositionsTag);
  captions_.Add(transactionsLabel_, kTransactionsTag);
  captions_.Add(stornoLabel_, kStornoTag);
  captions_.Add(quantityLabel_, kQuantityTag);
  captions_.Add(switchOperator_, kSwitchOperatorTag);
  StylePanel(*this, kPaleColour);
  Relabel();
}

void MassWindow::Relabel() {
  captions_.Apply(reg_.Texts());
}

Result<void> MassWindow::ReadFields(Register::MassOptions& options) const {
  const auto positions = WholeNumber(maxPositions_);
  const auto storno = WholeNumber(stornoChance_);
  const auto quantity = WholeNumber(maxQuantity_);
  if (!positions || *positions < 1 || !storno || !quantity)
    return MakeError(ErrorKind::kUnusableInput, msg::kMassFieldsWhole);
  options.maxPositions = *positions;
  options.stornoChance = *storno;
  options.maxQuantity = *quantity;
  options.switchOperator = switchOperator_->isChecked();
  return {};
}

void MassWindow::ShowProblem(const Error& error) {
  problem_->setText(OperatorMessage(reg_.Texts(), error));
  problem_->show();
}

void MassWindow::StartRun() {
  if (running_) return;  // a second Start from inside the run's event processing
  // Unusable fields are refused before anything is booked.
  Register::MassOptions options;
  const auto count = WholeNumber(transactions_);
  if (Result<void> read = ReadFields(options); !read || !count)
    return ShowProblem(read ? MakeError(ErrorKind::kUnusableInput, msg::kMassFieldsWhole)
                            : read.error());
  problem_->hide();
  options.transactions = *count;
  // Between positions the windows stay alive (Stop answers within one position) and changed
  // fields take effect at once.
  options.poll = [this](Register::MassOptions& current) -> Result<void> {
    QCoreApplication::processEvents();
    return ReadFields(current);
  };

  running_ = true;
  stopFlag_ = false;
  completed_ = 0;
  refused_ = 0;
  start_->setEnabled(false);
  stop_->setEnabled(true);
  gauge_->setRange(0, std::max(1, *count));
  gauge_->setValue(0);
  const Result<int> run =
      reg_.MassTransactions(options, &stopFlag_, [this](int done, int total, int refused) {
        refused_ = refused;
        Progress(done, total);
      });
  if (run) {
    completed_ = *run;
  } else {
    ShowProblem(run.error());
  }
  // Refused sales do not end the run; how many there were is said at its end.
  if (refused_ > 0) {
    const std::string signedSales = std::to_string(completed_ - refused_);
    const QString refusals = OperatorMessage(
        reg_.Texts(),
        MakeError(ErrorKind::kCard, msg::kMassRefusals,
                  {signedSales, std::to_string(completed_), std::to_string(refused_)}));
    problem_->setText(run ? refusals : problem_->text() + QStringLiteral("\n") + refusals);
    problem_->show();
  }
  gauge_->setValue(completed_);
  running_ = false;
  start_->setEnabled(true);
  stop_->setEnabled(false);
  emit runFinished(completed_);
}

void MassWindow::StopRun() {
  stopFlag_ = true;
}

void MassWindow::hideEvent(QHideEvent* event) {
  StopRun();
  QDialog::hideEvent(event);
}

void MassWindow::Progress(int done, int total) {
  completed_ = done;
  if (gauge_->maximum() != std::max(1, total)) gauge_->setRange(0, std::max(1, total));
  gauge_->setValue(done);
  // Keeps Stop, Cancel and the other windows usable during the run.
  QCoreApplication::processEvents();
}

void MassWindow::SetTransactions(int count) {
  transactions_->setText(QString::number(count));
}

}  // namespace kasse
