#include "ui/scanner_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "picture/qr_decode.h"
#include "register/messages.h"
#include "register/register.h"
#include "ui/captions.h"
#include "ui/scanner_geometry.h"

namespace kasse {

namespace {

constexpr int kLiveIntervalMs = 100;
constexpr int kBlinkIntervalMs = 300;
const QColor kArmedColour = Qt::red;
const QColor kReadColour(0, 128, 0);  // 32768: green

// A caption from the language file, or the design-time German one when the file has none.
QString Caption(const Register& reg, int tag, const char* fallback) {
  const std::string text = reg.Texts().Caption(tag);
  return text.empty() ? QString::fromUtf8(fallback) : FromCore(text);
}

bool OpenInBrowser(const QUrl& url) {
  return QDesktopServices::openUrl(url);
}

// Only web links go to the browser: a code on the screen may hold any text at all.
bool IsWebLink(const QUrl& url) {
  return url.isValid() &&
         (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

void SetColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  widget->setPalette(palette);
}

}  // namespace

ScannerWindow::ScannerWindow(Register& reg, std::function<QImage()> shownCode, QWidget* parent)
    : QWidget(parent, Qt::Window),
      reg_(reg),
      shownCode_(std::move(shownCode)),
      opener_(OpenInBrowser),
      beep_([] { QApplication::beep(); }),
      message_([this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); }) {
  setWindowTitle(QStringLiteral("Scanner"));
  BuildControls();
  liveTimer_.setInterval(kLiveIntervalMs);
  blinkTimer_.setInterval(kBlinkIntervalMs);
  connect(&liveTimer_, &QTimer::timeout, this, [this] { LiveTick(); });
  connect(&blinkTimer_, &QTimer::timeout, this, [this] { BlinkTick(); });
  blinkTimer_.start();
  Relabel();
}

void ScannerWindow::BuildControls() {
  frame_ = new QWidget(this);
  frame_->setGeometry(4, 36, 117, 93);
  frame_->setAutoFillBackground(true);
  SetColour(frame_, kArmedColour);
  picture_ = new QLabel(this);
  picture_->setGeometry(20, 39, 85, 86);
  picture_->setScaledContents(true);
  picture_->raise();
  panel_ = new QGroupBox(this);
  panel_->setGeometry(130, 4, 200, 190);
  auto* layout = new QVBoxLayout(panel_);
  memo_ = new QPlainTextEdit(panel_);
  memo_->setReadOnly(true);
  memo_->setPlainText(QStringLiteral("Mauszeiger \u00FCber den \nOR-Code des Belegs \nzentrieren"));
  layout->addWidget(memo_);
  verifyGroup_ = new QGroupBox(panel_);
  auto* verifyLayout = new QVBoxLayout(verifyGroup_);
  webButton_ = new QRadioButton(verifyGroup_);
  contentButton_ = new QRadioButton(verifyGroup_);
  webButton_->setChecked(true);
  verifyLayout->addWidget(webButton_);
  verifyLayout->addWidget(contentButton_);
  layout->addWidget(verifyGroup_);
  resetButton_ = new QPushButton(panel_);
  resetButton_->hide();
  layout->addWidget(resetButton_);
  connect(resetButton_, &QPushButton::clicked, this, [this] { StartScan(); });
  resize(340, 200);
}

void ScannerWindow::Relabel() {
  verifyGroup_->setTitle(Caption(reg_, 305, "Verifiziere mit"));
  webButton_->setText(Caption(reg_, 301, "Webserver"));
  contentButton_->setText(Caption(reg_, 302, "nur Inhalt"));
  resetButton_->setText(Caption(reg_, 300, "Reset"));
}

void ScannerWindow::StartScan() {
  memo_->setPlainText(QStringLiteral("Mauszeiger \u00FCber den OR-Code des Belegs zentrieren"));
  SetColour(frame_, kArmedColour);
  frameGreen_ = false;
  liveTimer_.start();
  blinkTimer_.start();
  resetButton_->hide();
  armed_ = true;
}

void ScannerWindow::ScanHit() {
  if (!armed_) return;
  activateWindow();
  armed_ = false;
  blinkTimer_.stop();
  SetColour(frame_, kReadColour);
  frameGreen_ = true;
  frame_->show();
  beep_();
  const QImage shown = shownCode_ ? shownCode_() : QImage();
  const Result<std::string> read = DecodeQrPicture(shown);
  if (!read) {
    memo_->setPlainText(
        OperatorMessage(reg_.Texts(), MakeError(ErrorKind::kMissingInput, msg::kNoQrCodeReadable)));
  } else {
    const QString text = QString::fromUtf8(read->data(), static_cast<qsizetype>(read->size()));
    memo_->setPlainText(text);
    if (!text.isEmpty() && WebserverMode()) {
      const QUrl url(text, QUrl::StrictMode);
      if (!IsWebLink(url) || !opener_(url))
        message_(OperatorMessage(reg_.Texts(), MakeError(ErrorKind::kIo, msg::kWebPageNotOpened)));
    }
  }
  resetButton_->show();
}

bool ScannerWindow::WebserverMode() const {
  return webButton_->isChecked();
}

void ScannerWindow::SetWebserverMode(bool on) {
  (on ? webButton_ : contentButton_)->setChecked(true);
}

QString ScannerWindow::MemoText() const {
  return memo_->toPlainText();
}

bool ScannerWindow::ResetVisible() const {
  return !resetButton_->isHidden();
}

void ScannerWindow::showEvent(QShowEvent* event) {
  // Restoring a minimised window must not wipe a read off the memo.
  if (!event->spontaneous()) memo_->setPlainText(FromCore(reg_.Texts().LangText(75)));
  QWidget::showEvent(event);
}

void ScannerWindow::closeEvent(QCloseEvent* event) {
  liveTimer_.stop();
  armed_ = false;
  QWidget::closeEvent(event);
}

void ScannerWindow::BlinkTick() {
  frame_->setVisible(!frame_->isVisible());
}

void ScannerWindow::LiveTick() {
  const QPoint pointer = QCursor::pos();
  // Over the picture itself the picture would only film itself.
  if (QRect(picture_->mapToGlobal(QPoint(0, 0)), picture_->size()).contains(pointer)) return;
  QScreen* screen = QGuiApplication::screenAt(pointer);
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect source = ScanSourceRect(pointer, picture_->size(), screen->geometry());
  const QPoint local = source.topLeft() - screen->geometry().topLeft();
  QPixmap shot = screen->grabWindow(0, local.x(), local.y(), source.width(), source.height());
  if (shot.isNull()) return;
  shot = shot.scaled(picture_->size());
  QPainter painter(&shot);
  painter.setPen(QPen(Qt::black, 1));
  for (const QLine& line : CrosshairLines(pointer, source, picture_->size()))
    painter.drawLine(line);
  painter.end();
  picture_->setPixmap(shot);
}

}  // namespace kasse
