#include "ui/card_monitor_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QMenuBar>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "register/register.h"

namespace kasse {
namespace {

// Tag 52 is also the monitors' "Löschen": it names the menu entry; the window keeps its
// design title, which the language file would otherwise turn into "Löschen".
constexpr int kClearTag = 52;
constexpr int kRefreshMs = 250;

}  // namespace

QColor MonitorQColor(std::uint32_t colour, const QColor& windowText) {
  if (colour == kMonitorWindowText) return windowText;
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

CardMonitorWindow::CardMonitorWindow(Register& reg, QWidget* parent)
    : QWidget(parent, Qt::Window),
      reg_(reg),
      menu_(new QMenuBar(this)),
      clear_(menu_->addAction(QStringLiteral("L\u00F6schen"))),
      view_(new QTextEdit(this)),
      refresh_(new QTimer(this)) {
  setObjectName(QStringLiteral("MonForm"));
  setWindowTitle(QStringLiteral("Cardmonitor"));
  clear_->setObjectName(QStringLiteral("ClearMess"));
  view_->setObjectName(QStringLiteral("Mess"));
  view_->setReadOnly(true);
  view_->setLineWrapMode(QTextEdit::NoWrap);
  view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setMenuBar(menu_);
  layout->addWidget(view_);
  resize(620, 480);

  connect(clear_, &QAction::triggered, this, [this] {
    reg_.ClearLog(Register::Log::kCardMonitor);
    Refresh();
  });
  connect(refresh_, &QTimer::timeout, this, &CardMonitorWindow::Refresh);
  refresh_->start(kRefreshMs);
  captions_.Add(clear_, kClearTag);
  Relabel();
  Refresh();
}

void CardMonitorWindow::Relabel() {
  captions_.Apply(reg_.Texts());
}

void CardMonitorWindow::ShowMonitor(bool visible) {
  reg_.SetCardMonitor(visible ? Register::CardMonitorState::kShown
                              : Register::CardMonitorState::kHidden);
  setVisible(visible);
  Refresh();
}

void CardMonitorWindow::Refresh() {
  const CardMonitorLog& log = reg_.Card().Log();
  if (log.Revision() == shownRevision_) return;
  shownRevision_ = log.Revision();
  // The log trims its oldest lines itself; it stays small, so the view is simply rebuilt.
  const QColor windowText = view_->palette().color(QPalette::Text);
  view_->clear();
  QTextCursor cursor(view_->document());
  bool first = true;
  for (const MonitorLine& line : log.Lines()) {
    if (!first) cursor.insertBlock();
    first = false;
    QTextCharFormat format;
    format.setForeground(MonitorQColor(line.colour, windowText));
    cursor.insertText(FromCore(line.text), format);
  }
  view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->maximum());
}

void CardMonitorWindow::closeEvent(QCloseEvent* event) {
  reg_.SetCardMonitor(Register::CardMonitorState::kClosed);
  event->accept();
  emit closed();
}

}  // namespace kasse
