#include "ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>

#include "common/user_folders.h"
#include "register/messages.h"
#include "register/register.h"
#include "ui/card_error_window.h"
#include "ui/card_monitor_window.h"
#include "ui/clock_window.h"
#include "ui/debug_console.h"
#include "ui/function_monitor_window.h"
#include "ui/look.h"
#include "ui/mass_window.h"
#include "ui/product_panel.h"
#include "ui/receipt_view.h"
#include "ui/report_view.h"
#include "ui/scanner_window.h"
#include "ui/special_position_editor.h"
#include "ui/status_line.h"
#include "ui/transport_pin_dialog.h"
#include "ui/vat_rate_dialog.h"

namespace kasse {

namespace {

// The central area: the gradient of the design behind every group.
class Backdrop : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    PaintGradient(painter, kGradientFrom, kGradientTo, GradientDirection::kBevelledLeft, rect());
  }
};

// The note's parts are paths and numbers, as the system gives them (UTF-8).
QStringList ToQStrings(const std::vector<MessageArg>& args) {
  QStringList list;
  for (const MessageArg& arg : args)
    list << QString::fromStdString(arg.text);
  return list;
}

}  // namespace

MainWindow::MainWindow(Register& reg, QWidget* parent) : QMainWindow(parent), reg_(reg) {
  setObjectName(QStringLiteral("TViviVuv"));
  captions_.Add(this, 20);
  auto* backdrop = new Backdrop(this);
  setCentralWidget(backdrop);
  auto* row = new QHBoxLayout(backdrop);
  row->setContentsMargins(8, 6, 8, 6);
  row->setSpacing(6);

  editor_ = new SpecialPositionEditor(reg_, backdrop);
  productGroup_ = new QGroupBox(backdrop);
  productGroup_->setObjectName(QStringLiteral("ProductGroup"));
  StyleGroup(*productGroup_, kPaleColour);
  captions_.Add(productGroup_, 91);
  products_ = new ProductPanel(reg_, productGroup_);
  (new QVBoxLayout(productGroup_))->addWidget(products_);
  reports_ = new ReportView(reg_, backdrop);
  reports_->setMinimumWidth(productGroup_->sizeHint().width());
  row->addWidget(editor_);
  row->addWidget(productGroup_, 1);
  row->addWidget(reports_, 1);
  row->addWidget(BuildReceiptGroup(), 2);
  row->addWidget(BuildRightColumn());

  CreateToolWindows();
  BuildMenus();
  ConnectBindings();
  BuildStatusBar();
  about_ = AboutFacts{{}, reg_.Config().Home(), UserStateFolder()};

  // The window shows the register again when it reports a change, not on a poll.
  refreshTimer_ = new QTimer(this);
  refreshTimer_->setSingleShot(true);
  connect(refreshTimer_, &QTimer::timeout, this, &MainWindow::Refresh);
  reg_.SetHost(this);
  ApplyLayout();
  Relabel();
  const QRect screen = this->screen()->availableGeometry();
  resize(std::min(1240, screen.width()), std::min(760, screen.height() - 40));
}

MainWindow::~MainWindow() {
  reg_.SetHost(nullptr);
}

void MainWindow::Relabel() {
  captions_.Apply(reg_.Texts());
  editor_->Relabel();
  products_->Relabel();
  reports_->Relabel();
  tools_.mass->Relabel();
  tools_.functionMonitor->Relabel();
  tools_.scanner->Relabel();
  tools_.vatRates->Relabel();
  tools_.debug->Relabel();
  tools_.transportPin->Relabel();
  tools_.cardError->Relabel();
  tools_.clock->Relabel();
  tools_.cardMonitor->Relabel();
  Refresh();
}

void MainWindow::SetStartFacts(AboutFacts about, std::optional<Error> cardNote) {
  about_ = std::move(about);
  cardNote_ = std::move(cardNote);
  RefreshStatusBar();
}

void MainWindow::BuildStatusBar() {
  statusBar()->setSizeGripEnabled(false);
  cardInUse_ = new QLabel(statusBar());
  cardInUse_->setObjectName(QStringLiteral("CardInUse"));
  verifyPage_ = new QLabel(statusBar());
  verifyPage_->setObjectName(QStringLiteral("VerifyPage"));
  verifyPage_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Permanent: a message of the moment never hides them.
  statusBar()->addPermanentWidget(cardInUse_);
  statusBar()->addPermanentWidget(verifyPage_);
}

void MainWindow::RefreshStatusBar() {
  const Language& texts = reg_.Texts();
  const Register::CardView card = reg_.Card();
  const QString cardText = CardInUseText(texts, card.InRegister(), card.Reader());
  if (cardInUse_->text() != cardText) cardInUse_->setText(cardText);
  const QString note = cardNote_ && cardNote_->what != nullptr
                           ? MessageWith(texts, *cardNote_->what, ToQStrings(cardNote_->args))
                           : QString();
  if (cardInUse_->toolTip() != note) cardInUse_->setToolTip(note);
  const QString page = VerifyPageText(texts, reg_.Config().verifyHost);
  if (verifyPage_->text() != page) verifyPage_->setText(page);
}

void MainWindow::Started() {
  const RegisterConfig& config = reg_.Config();
  operatorNames_[0]->setText(FromCore(config.operatorName1));
  operatorNames_[1]->setText(FromCore(config.operatorName2));
  operatorButtons_[config.activeOperator == 2 ? 1 : 0]->setChecked(true);
  actions_.cardMonitor->setChecked(config.showCardMonitor);
  tools_.cardMonitor->ShowMonitor(config.showCardMonitor);
  actions_.functionMonitor->setChecked(config.showFunctionMonitor);
  tools_.functionMonitor->setVisible(config.showFunctionMonitor);
  products_->Reload();
  Relabel();
  // What the register could not read at start (or read only with conversion) is named where
  // the operator looks, and stays a while longer than an action's message.
  if (!reg_.Warnings().empty()) {
    QStringList lines;
    for (const Error& warning : reg_.Warnings())
      lines << OperatorMessage(reg_.Texts(), warning);
    problem_ = lines.join(QStringLiteral("; "));
    statusBar()->showMessage(problem_, 30000);
  }
}

void MainWindow::ApplyLayout() {
  editor_->setVisible(itemEditorVisible_ && !reportView_);
  productGroup_->setVisible(!reportView_);
  reports_->setVisible(reportView_);
}

void MainWindow::Refresh() {
  lastRefresh_.restart();
  const Sale& sale = reg_.CurrentSale();
  receipt_->ShowSale(sale, reg_.LastVerifyUrl(), sale.settings.showQrCode);
  summe_->setEnabled(sale.SummeEnabled());
  abbruch_->setEnabled(sale.AbbruchEnabled());
  kassieren_->setEnabled(sale.KassierenEnabled());
  storno_->setVisible(sale.StornoVisible());
  discountBox_->setVisible(sale.DiscountBoxVisible());
  trainingLabel_->setVisible(sale.settings.trainingMode);
  // The mass generator switches operators too: the buttons show who signs the next sale.
  QRadioButton* active = operatorButtons_[reg_.Config().activeOperator == 2 ? 1 : 0];
  if (!active->isChecked()) {
    const QSignalBlocker quiet(active);
    active->setChecked(true);
  }
  const CardState& card = reg_.Card().State();
  idLabel_->setText(card.TpId.empty()
                        ? QString()
                        : FromCore(card.TpId) + QStringLiteral(" - ") + FromCore(card.TpIdNo));
  editor_->RefreshRates();
  actions_.training->setChecked(sale.settings.trainingMode);
  actions_.verifyOnCard->setChecked(reg_.Switches().checkVer);
  actions_.verifyOnCard->setVisible(!reportView_);
  actions_.securityText->setChecked(sale.settings.showSecurityText);
  actions_.qrCode->setChecked(sale.settings.showQrCode);
  actions_.reportView->setChecked(reportView_);
  actions_.editor->setChecked(itemEditorVisible_);
  actions_.editor->setEnabled(!reportView_);
  RefreshStatusBar();
}

void MainWindow::Report(const Result<void>& outcome) {
  Report(outcome ? QString() : OperatorMessage(reg_.Texts(), outcome.error()));
}

void MainWindow::Report(const QString& problem) {
  problem_ = problem;
  if (problem.isEmpty())
    statusBar()->clearMessage();
  else
    statusBar()->showMessage(problem, 8000);
  Refresh();
}

void MainWindow::BookSelected() {
  const int index = products_->SelectedIndex();
  if (index < 0)
    return Report(Result<void>(MakeError(ErrorKind::kMissingInput, msg::kNoProductSelected)));
  Report(reg_.BookProduct(std::size_t(index), products_->QuantityText()));
}

void MainWindow::CancelAtCaret() {
  Report(reg_.Storno(receipt_->CaretLine()));
}

void MainWindow::Total(int times) {
  Result<void> outcome;
  for (int i = 0; i < times && outcome; ++i) {
    // After a cash-in the second Enter finds no sale: nothing more to do.
    if (i > 0 && reg_.CurrentSale().NoSaleOpen()) break;
    outcome = reg_.Summe();
  }
  Report(outcome);
}

void MainWindow::Abort() {
  reg_.Abbruch();
  Report(QString());
}

void MainWindow::Percent(PercentSign sign) {
  const std::string percent = ToCore(percent_->text());
  Report(reg_.Percentage(sign, percent));
}

void MainWindow::BookSpecial() {
  Report(reg_.BookSpecial(editor_->Fields()));
}

void MainWindow::AddSpecialToList() {
  SpecialPositionFields fields = editor_->Fields();
  if (fields.name.empty()) return;
  Result<BookingPosition> product = MakeSpecialPosition(fields);
  if (!product) return Report(OperatorMessage(reg_.Texts(), product.error()));
  const int selected = products_->SelectedIndex();
  reg_.EditProducts().Add(*product);
  products_->Reload();
  products_->Select(selected);
  Report(QString());
}

void MainWindow::EditShownProduct() {
  const int index = products_->ShownProductIndex();
  const auto& list = reg_.Products().Products();
  if (index < 0 || std::size_t(index) >= list.size()) return;
  editor_->ShowPosition(list[std::size_t(index)]);
  if (!itemEditorVisible_) ToggleEditor();
}

void MainWindow::ShowReceiptLine(std::size_t line) {
  const Sale& sale = reg_.CurrentSale();
  if (line == 0 || sale.OwnerOfLine(line).kind != LineOwner::Kind::kPosition) return;
  if (const BookingPosition* position = sale.PositionAtLine(line)) editor_->ShowPosition(*position);
}

void MainWindow::ToggleReportView() {
  reportView_ = !reportView_;
  ApplyLayout();
  Result<void> outcome;
  if (reports_->MonthsEmpty() && reportView_) outcome = reports_->FetchMonths();
  reg_.LeaveSale();
  Report(outcome);
}

void MainWindow::ToggleEditor() {
  if (reportView_) return;
  itemEditorVisible_ = !itemEditorVisible_;
  ApplyLayout();
  Refresh();
}

void MainWindow::ChooseLanguage(int menuIndex) {
  const std::size_t warnings = reg_.Warnings().size();
  const Result<void> chosen = reg_.SetLanguage(kLanguages.at(std::size_t(menuIndex)));
  Relabel();
  if (chosen && reg_.Warnings().size() > warnings)
    return Report(OperatorMessage(reg_.Texts(), reg_.Warnings().back()));
  Report(chosen);
}

void MainWindow::ShowStatusSheet() {
  const Result<std::vector<std::string>> shown = reg_.Status(Register::StatusOutput::kSheet);
  Report(shown ? Result<void>() : Result<void>(shown.error()));
}

namespace {

// A record the journal never got is the one thing the operator must not miss at the close: the
// box says where the record went, or hands over its text to copy and keep.
void ShowRunEnd(QWidget* parent, const Language& texts, const Register::RunEnd& end) {
  if (end.kind == Register::RunEnd::Kind::kWritten) return;
  QMessageBox box(
      end.kind == Register::RunEnd::Kind::kLost ? QMessageBox::Critical : QMessageBox::Warning,
      QStringLiteral("Kasse"), OperatorMessage(texts, *end.message), QMessageBox::Ok, parent);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  if (!end.recordsText.empty()) box.setDetailedText(QString::fromStdString(end.recordsText));
  box.exec();
}

}  // namespace

// The start-up file remembers the settings and which monitors were open when the register closed.
void MainWindow::closeEvent(QCloseEvent* event) {
  Report(reg_.SaveSettings(Register::MonitorsAtStart{actions_.cardMonitor->isChecked(),
                                                     actions_.functionMonitor->isChecked()}));
  ShowRunEnd(this, reg_.Texts(), reg_.EndRun());
  QMainWindow::closeEvent(event);
}

}  // namespace kasse
