// The main window's menus, its tool windows, the register's prompts and the key and click
// bindings between the views.

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include "register/register.h"
#include "ui/card_error_window.h"
#include "ui/card_monitor_window.h"
#include "ui/clock_window.h"
#include "ui/debug_console.h"
#include "ui/function_monitor_window.h"
#include "ui/main_window.h"
#include "ui/mass_window.h"
#include "ui/product_panel.h"
#include "ui/receipt_output.h"
#include "ui/receipt_view.h"
#include "ui/report_view.h"
#include "ui/scanner_geometry.h"
#include "ui/scanner_window.h"
#include "ui/special_position_editor.h"
#include "ui/transport_pin_dialog.h"
#include "ui/vat_rate_dialog.h"

namespace kasse {

namespace {

QAction* Entry(QMenu* menu, CaptionBook& captions, int tag, const char* text,
               bool checkable = false) {
  QAction* action = menu->addAction(QString::fromUtf8(text));
  action->setCheckable(checkable);
  captions.Add(action, tag);
  return action;
}

QMenu* Submenu(QMenu* parent, CaptionBook& captions, int tag, const char* text) {
  QMenu* menu = parent->addMenu(QString::fromUtf8(text));
  captions.Add(menu, tag);
  return menu;
}

// XMLOpenDialog: the export pair's name, in the home's Export folder to begin with (a new name
// may be typed); empty when the operator cancels.
std::filesystem::path ChooseExportFile(const Register& reg, QWidget* parent) {
  QFileDialog dialog(parent, QString(),
                     QString::fromStdString((reg.Config().Home() / "Export").string()),
                     QStringLiteral("XML (*.xml)"));
  dialog.setObjectName(QStringLiteral("XMLOpenDialog"));
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("xml"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front().toStdString();
}

}  // namespace

void MainWindow::CreateToolWindows() {
  // The order of the design: the main window comes last, its tools before it.
  tools_.mass = new MassWindow(reg_, this);
  tools_.functionMonitor = new FunctionMonitorWindow(reg_, this);
  tools_.scanner = new ScannerWindow(
      reg_, [this] { return receipt_->ShownCode(); }, this);
  tools_.vatRates = new VatRateDialog(reg_, this);
  tools_.debug = new DebugConsole(reg_, this);
  tools_.transportPin = new TransportPinDialog(reg_, this);
  tools_.cardError = new CardErrorWindow(reg_, this);
  tools_.clock = new ClockWindow(reg_, this);
  tools_.cardMonitor = new CardMonitorWindow(reg_, this);
  connect(tools_.cardError, &CardErrorWindow::closedEndsRegister, this, &MainWindow::endRegister);
  connect(tools_.clock, &ClockWindow::appClockShown, this,
          [this](const QString& time, const QString& date) {
            timeLabel_->setText(time);
            dateLabel_->setText(date);
          });
  connect(tools_.mass, &MassWindow::runFinished, this, [this] { Refresh(); });
  connect(tools_.vatRates, &QDialog::finished, this, [this] { Refresh(); });
  products_->SetFocusBlocked([this] { return tools_.vatRates->isVisible(); });
}

bool MainWindow::Confirm(const std::string& text, const std::string& caption) {
  return QMessageBox::question(this, FromCore(caption), FromCore(text)) == QMessageBox::Yes;
}

void MainWindow::ShowMessage(const std::string& text, const std::string& caption) {
  QMessageBox::information(this, FromCore(caption), FromCore(text));
}

void MainWindow::RequestTransportPin() {
  tools_.transportPin->exec();
}

// The card may fail inside a card event: the window opens once that event is over.
void MainWindow::CardFailed() {
  QTimer::singleShot(0, this, &MainWindow::ShowCardError);
}

DebugHold* MainWindow::CommandHold() {
  return tools_.debug;
}

// While the card works the window paints and its timers run; the operator's input waits for
// the answer, so that no second sale starts in the middle of one.
void MainWindow::WhileCardWorks() {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// A run of changes (a mass run, a card event during an action) refreshes the window once,
// and at most every kRefreshGapMs.
void MainWindow::Changed() {
  if (refreshTimer_->isActive()) return;
  const qint64 since = lastRefresh_.isValid() ? lastRefresh_.elapsed() : kRefreshGapMs;
  refreshTimer_->start(static_cast<int>(std::max<qint64>(0, kRefreshGapMs - since)));
}

void MainWindow::ShowCardError() {
  if (cardErrorShown_) return;
  cardErrorShown_ = true;
  tools_.cardError->open();
}

void MainWindow::BuildMenus() {
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu(QStringLiteral("Datei"));
  captions_.Add(file, 1);
  BuildFileMenu(file);
  QMenu* options = bar->addMenu(QStringLiteral("Optionen"));
  captions_.Add(options, 70);
  BuildOptionsMenu(options);
  QMenu* view = bar->addMenu(QStringLiteral("Ansicht"));
  captions_.Add(view, 134);
  actions_.reportView = Entry(view, captions_, 96, "Tagesabschluss", true);
  actions_.editor = Entry(view, captions_, 95, "Buchungsposition", true);
  connect(actions_.reportView, &QAction::triggered, this, &MainWindow::ToggleReportView);
  connect(actions_.editor, &QAction::triggered, this, &MainWindow::ToggleEditor);
  actions_.scanner = bar->addAction(QStringLiteral("Scanner"));
  connect(actions_.scanner, &QAction::triggered, this, &MainWindow::OpenScanner);
  QMenu* card = bar->addMenu(QStringLiteral("QOR"));
  actions_.status = Entry(card, captions_, 30, "Status");
  actions_.deactivate = Entry(card, captions_, 121, "deaktivieren");
  connect(actions_.status, &QAction::triggered, this, &MainWindow::ShowStatusSheet);
  connect(actions_.deactivate, &QAction::triggered, this, [this] { Report(reg_.Deactivate()); });
  QMenu* developer = bar->addMenu(QStringLiteral("Entwickler"));
  captions_.Add(developer, 135);
  BuildDeveloperMenu(developer);
  QMenu* help = bar->addMenu(QStringLiteral("Hilfe"));
  captions_.Add(help, 500);
  actions_.about = Entry(help, captions_, 501, "Über Kasse");
  actions_.about->setMenuRole(QAction::AboutRole);
  connect(actions_.about, &QAction::triggered, this, [this] {
    ShowAbout(this, reg_.Texts(), about_, actions_.about->text().remove(QLatin1Char('&')));
  });
}

void MainWindow::BuildFileMenu(QMenu* file) {
  QMenu* products = Submenu(file, captions_, 72, "Produktliste öffnen");
  actions_.load = Entry(products, captions_, 61, "Laden");
  actions_.save = Entry(products, captions_, 62, "Speichern");
  actions_.saveAs = Entry(products, captions_, 63, "Speichern als");
  connect(actions_.load, &QAction::triggered, this, &MainWindow::LoadProducts);
  connect(actions_.save, &QAction::triggered, this, [this] { SaveProducts(false); });
  connect(actions_.saveAs, &QAction::triggered, this, [this] { SaveProducts(true); });
  // Hidden because the design hides them; triggered, they attach an export pair as
  // `export new|open` does in batch.
  const std::pair<ExportKind, QAction*> exports[] = {
      {ExportKind::kNew, Entry(file, captions_, 73, "XML-Export  Neu")},
      {ExportKind::kOpen, Entry(file, captions_, 74, "XML-Export Öffnen")}};
  for (const auto& [kind, entry] : exports) {
    entry->setVisible(false);
    entry->setObjectName(kind == ExportKind::kNew ? QStringLiteral("XMLExportNeu1")
                                                  : QStringLiteral("XMLExportffnen1"));
    connect(entry, &QAction::triggered, this, [this, kind = kind] {
      const std::filesystem::path chosen = ChooseExportFile(reg_, this);
      if (!chosen.empty()) Report(reg_.Export(kind, chosen));
    });
  }
  QMenu* print = Submenu(file, captions_, 75, "Belegdruck");
  actions_.printStandard = Entry(print, captions_, 76, "Standard");
  actions_.printRaw = Entry(print, captions_, 77, "EPSON");
  actions_.saveReceipt = Entry(file, captions_, 78, "Beleg speichern");
  connect(actions_.printStandard, &QAction::triggered, this,
          [this] { PrintReceiptWithDialog(reg_, this); });
  connect(actions_.printRaw, &QAction::triggered, this, [this] { PrintReceiptRaw(reg_, this); });
  connect(actions_.saveReceipt, &QAction::triggered, this,
          [this] { SaveReceiptWithDialog(reg_, this); });
  file->addSeparator();
  connect(file->addAction(QStringLiteral("Close")), &QAction::triggered, this, &QWidget::close);
}

void MainWindow::BuildOptionsMenu(QMenu* options) {
  QMenu* kasse = Submenu(options, captions_, 20, "Kasse");
  actions_.training = Entry(kasse, captions_, 71, "Training", true);
  actions_.verifyOnCard = Entry(kasse, captions_, 114, "Verifikation auf QOR", true);
  actions_.vatRates = Entry(kasse, captions_, 141, "Editiere UStS");
  QMenu* receipt = Submenu(kasse, captions_, 170, "Beleg");
  actions_.securityText = receipt->addAction(QStringLiteral("Text"));
  actions_.qrCode = receipt->addAction(QStringLiteral("QRCode"));
  actions_.securityText->setCheckable(true);
  actions_.qrCode->setCheckable(true);
  connect(actions_.training, &QAction::triggered, this, [this](bool on) {
    (void)reg_.SetSwitch(Register::Switch::kTraining, on);
    Refresh();
  });
  connect(actions_.verifyOnCard, &QAction::triggered, this, [this](bool on) {
    (void)reg_.SetSwitch(Register::Switch::kVerifyOnCard, on);
    tools_.debug->SyncFromRegister();
    Refresh();
  });
  connect(actions_.vatRates, &QAction::triggered, this, [this] { tools_.vatRates->show(); });
  connect(actions_.securityText, &QAction::triggered, this, [this] { ShowSecurityChoice(true); });
  connect(actions_.qrCode, &QAction::triggered, this, [this] { ShowSecurityChoice(false); });
  QMenu* language = Submenu(options, captions_, 2, "Sprache");
  const int tags[] = {3, 4, 6, 7};
  for (std::size_t i = 0; i < kLanguages.size(); ++i) {
    actions_.languages[i] = Entry(language, captions_, tags[i], kLanguages[i]);
    connect(actions_.languages[i], &QAction::triggered, this,
            [this, i] { ChooseLanguage(int(i)); });
  }
}

void MainWindow::BuildDeveloperMenu(QMenu* developer) {
  actions_.clock = Entry(developer, captions_, 23, "Zeit", true);
  QMenu* monitors = Submenu(developer, captions_, 134, "Ansicht");
  actions_.cardMonitor = Entry(monitors, captions_, 21, "Karten-Monitor", true);
  actions_.functionMonitor = Entry(monitors, captions_, 22, "KAVELO-Monitor", true);
  actions_.debug = developer->addAction(QStringLiteral("Debug"));
  actions_.debug->setCheckable(true);
  actions_.mass = developer->addAction(QStringLiteral("Mass.Transact."));
  connect(actions_.clock, &QAction::triggered, tools_.clock, &QWidget::setVisible);
  connect(actions_.cardMonitor, &QAction::triggered, tools_.cardMonitor,
          &CardMonitorWindow::ShowMonitor);
  connect(tools_.cardMonitor, &CardMonitorWindow::closed, this,
          [this] { actions_.cardMonitor->setChecked(false); });
  connect(actions_.functionMonitor, &QAction::triggered, tools_.functionMonitor,
          &QWidget::setVisible);
  connect(tools_.functionMonitor, &FunctionMonitorWindow::closed, this,
          [this] { actions_.functionMonitor->setChecked(false); });
  // The entry's check mark follows the console: checking shows it, unchecking closes it.
  connect(actions_.debug, &QAction::triggered, this, [this] {
    const bool show = !tools_.debug->isVisible();
    actions_.debug->setChecked(show);
    if (!show) {
      tools_.debug->close();
      return;
    }
    tools_.debug->SyncFromRegister();
    tools_.debug->show();
    tools_.debug->raise();
  });
  connect(tools_.debug, &DebugConsole::closed, this, [this] {
    actions_.debug->setChecked(false);
    Refresh();
  });
  connect(actions_.mass, &QAction::triggered, tools_.mass, &QWidget::show);
}

void MainWindow::ShowSecurityChoice(bool textClicked) {
  // The register keeps one of the two on.
  const SaleSettings& settings = reg_.CurrentSale().settings;
  if (textClicked)
    (void)reg_.SetSwitch(Register::Switch::kSecurityText, !settings.showSecurityText);
  else
    (void)reg_.SetSwitch(Register::Switch::kQrCode, !settings.showQrCode);
  Refresh();
}

// Placed beside the main window, half-way down, but inside the screen, then armed and shown:
// showing puts language text 75 into its memo.
void MainWindow::OpenScanner() {
  ScannerWindow* scanner = tools_.scanner;
  // Before its first showing the scanner has no frame yet: it will get one like this window's.
  const QSize decoration = frameGeometry().size() - geometry().size();
  const QSize scannerFrame =
      scanner->isVisible() ? scanner->frameGeometry().size() : scanner->size() + decoration;
  scanner->move(ScannerWindowPlace(frameGeometry(), scannerFrame, screen()->availableGeometry()));
  scanner->StartScan();
  scanner->show();
  scanner->raise();
}

void MainWindow::LoadProducts() {
  const QString file = QFileDialog::getOpenFileName(
      this, QString(), QString::fromStdString((reg_.Config().Home() / "Produkte").string()),
      QStringLiteral("XML (*.xml)"));
  if (file.isEmpty()) return;
  const Result<void> loaded = reg_.LoadProducts(file.toStdString());
  products_->Reload();
  if (loaded && reg_.Products().LoadNotice())
    return Report(OperatorMessage(reg_.Texts(), *reg_.Products().LoadNotice()));
  Report(loaded);
}

void MainWindow::SaveProducts(bool choose) {
  std::filesystem::path target = reg_.Products().File();
  if (choose || target.empty()) {
    const QString file = QFileDialog::getSaveFileName(
        this, QString(), QString::fromStdString((reg_.Config().Home() / "Produkte").string()),
        QStringLiteral("XML (*.xml)"));
    if (file.isEmpty()) return;
    target = file.toStdString();
    if (target.extension().empty()) target += ".xml";
  }
  Report(reg_.EditProducts().SaveAs(target));
}

void MainWindow::DeleteProduct(int index) {
  if (index < 0 || !reg_.EditProducts().Remove(std::size_t(index))) return;
  products_->Reload();
  products_->Select(std::min(index, products_->List()->count() - 1));
  Refresh();
}

void MainWindow::ConnectBindings() {
  ProductPanel* p = products_;
  connect(p, &ProductPanel::bookRequested, this, &MainWindow::BookSelected);
  connect(p, &ProductPanel::cancelRequested, this, &MainWindow::CancelAtCaret);
  connect(p, &ProductPanel::totalRequested, this, &MainWindow::Total);
  connect(p, &ProductPanel::abortRequested, this, &MainWindow::Abort);
  connect(p, &ProductPanel::percentRequested, this, &MainWindow::Percent);
  connect(p, &ProductPanel::deleteRequested, this, &MainWindow::DeleteProduct);
  connect(p, &ProductPanel::saveRequested, this, [this] { SaveProducts(false); });
  connect(p, &ProductPanel::saveAsRequested, this, [this] { SaveProducts(true); });
  connect(p, &ProductPanel::loadRequested, this, &MainWindow::LoadProducts);
  connect(p, &ProductPanel::editRequested, this, &MainWindow::EditShownProduct);
  SpecialPositionEditor* e = editor_;
  connect(e, &SpecialPositionEditor::bookRequested, this, &MainWindow::BookSpecial);
  connect(e, &SpecialPositionEditor::addToListRequested, this, &MainWindow::AddSpecialToList);
  connect(e, &SpecialPositionEditor::productBookRequested, this, &MainWindow::BookSelected);
  connect(e, &SpecialPositionEditor::totalRequested, this, [this] { Total(1); });
  connect(e, &SpecialPositionEditor::abortRequested, this, &MainWindow::Abort);
  connect(reports_, &ReportView::leaveRequested, this, &MainWindow::ToggleReportView);
  connect(reports_, &ReportView::reportDone, this,
          [this](const QString& problem) { Report(problem); });
  connect(receipt_, &ReceiptView::lineClicked, this, &MainWindow::ShowReceiptLine);
  connect(receipt_, &ReceiptView::codeAimed, this, [this] {
    if (tools_.scanner->isVisible()) tools_.scanner->ScanHit();
  });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  for (std::size_t i = 0; i < operatorNames_.size(); ++i)
    if (watched == operatorNames_[i] && event->type() == QEvent::MouseButtonPress)
      operatorButtons_[i]->setChecked(true);
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace kasse
