#include "ui/function_monitor_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include "register/register.h"

namespace kasse {
namespace {

constexpr int kWindowTag = 22;
constexpr int kSaveTag = 51;
constexpr int kClearTag = 52;
constexpr int kRefreshMs = 250;

// The log separates lines with CR LF; the view wants bare line feeds.
QString ViewText(std::string_view cp1252) {
  QString text = FromCore(std::string(cp1252));
  text.remove(QLatin1Char('\r'));
  return text;
}

}  // namespace

FunctionMonitorWindow::FunctionMonitorWindow(Register& reg, QWidget* parent)
    : QWidget(parent, Qt::Window),
      reg_(reg),
      menu_(new QMenuBar(this)),
      save_(menu_->addAction(QStringLiteral("Speichern"))),
      clear_(menu_->addAction(QStringLiteral("L\u00F6schen"))),
      view_(new QPlainTextEdit(this)),
      refresh_(new QTimer(this)) {
  setObjectName(QStringLiteral("FunkMonForm"));
  setWindowTitle(QStringLiteral("Kasse-Monitor"));
  view_->setObjectName(QStringLiteral("Mon"));
  view_->setReadOnly(true);
  view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  view_->setFont(fixed);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setMenuBar(menu_);
  layout->addWidget(view_);
  resize(559, 644);

  connect(save_, &QAction::triggered, this, &FunctionMonitorWindow::SaveClicked);
  connect(clear_, &QAction::triggered, this, &FunctionMonitorWindow::ClearClicked);
  connect(refresh_, &QTimer::timeout, this, &FunctionMonitorWindow::Refresh);
  refresh_->start(kRefreshMs);
  captions_.Add(this, kWindowTag);
  captions_.Add(save_, kSaveTag);
  captions_.Add(clear_, kClearTag);
  Relabel();
  Refresh();
}

void FunctionMonitorWindow::Relabel() {
  captions_.Apply(reg_.Texts());
}

void FunctionMonitorWindow::Refresh() {
  const FunctionMonitor& monitor = reg_.Monitor();
  if (monitor.Revision() == shownRevision_) return;
  shownRevision_ = monitor.Revision();
  const std::string& log = monitor.Text();
  // The log mostly grows at its end: add only the new part, so long runs stay cheap.
  const bool grew = log.size() >= shown_.size() && log.compare(0, shown_.size(), shown_) == 0;
  if (grew && !shown_.empty()) {
    QTextCursor end(view_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(ViewText(std::string_view(log).substr(shown_.size())));
  } else {
    view_->setPlainText(ViewText(log));
  }
  shown_ = log;
  view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->maximum());
}

QString FunctionMonitorWindow::ShownText() const {
  return view_->toPlainText();
}

Result<void> FunctionMonitorWindow::SaveTo(const std::filesystem::path& file) const {
  return reg_.Monitor().Save(file);
}

void FunctionMonitorWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  emit closed();
}

void FunctionMonitorWindow::SaveClicked() {
  const QString file =
      QFileDialog::getSaveFileName(this, save_->text(), QString(), QStringLiteral("*.txt"));
  if (file.isEmpty()) return;
  std::filesystem::path path = file.toStdString();
  if (!path.has_extension()) path += ".txt";
  if (auto saved = SaveTo(path); !saved)
    QMessageBox::warning(this, windowTitle(), OperatorMessage(reg_.Texts(), saved.error()));
}

void FunctionMonitorWindow::ClearClicked() {
  reg_.ClearLog(Register::Log::kFunctionMonitor);
  Refresh();
}

}  // namespace kasse
