#include "ui/splash_window.h"

#include <algorithm>

#include <QLabel>
#include <QProgressBar>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "register/language.h"
#include "ui/look.h"

namespace kasse {
namespace {

constexpr int kTitleTag = 60;
constexpr int kGaugeStep = 20;
constexpr int kGaugeIntervalMs = 100;

// cp1252: "gewährleistet" carries byte E4.
constexpr const char* kWarning =
    "Diese Kassensimulation dient nur zu \n"
    "Veranschaulichung der Funktionen des \n"
    "KAVELO-Verfahrens. \n"
    "Sie gew\xE4hrleistet NICHT die Sicherheit, \n"
    "welche beim Einsatz eines QOR erreicht \n"
    "wird!";

}  // namespace

SplashWindow::SplashWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint),
      title_(new QLabel(QStringLiteral("Initialisierung"), this)),
      gauge_(new QProgressBar(this)),
      warning_(new QTextEdit(this)),
      timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("InitForm"));
  setWindowTitle(QStringLiteral("Initialisierung"));
  setAutoFillBackground(true);
  QPalette shade = palette();
  shade.setColor(QPalette::Window, BgrColour(kGradientFrom));
  setPalette(shade);

  QFont big = title_->font();
  big.setPointSize(big.pointSize() * 2);
  big.setBold(true);
  title_->setFont(big);
  title_->setAlignment(Qt::AlignCenter);
  gauge_->setObjectName(QStringLiteral("InitBar"));
  gauge_->setRange(0, 100);
  gauge_->setTextVisible(false);
  warning_->setObjectName(QStringLiteral("Warnung"));
  warning_->setReadOnly(true);
  warning_->setFrameShape(QFrame::NoFrame);
  warning_->setPlainText(FromCore(kWarning));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addWidget(gauge_);
  layout->addWidget(warning_);
  resize(360, 260);

  captions_.Add(this, kTitleTag);
  captions_.Add(title_, kTitleTag);
  SetProgress(kGaugeStep);
  since_.start();
  timer_->setInterval(kGaugeIntervalMs);
  connect(timer_, &QTimer::timeout, this, &SplashWindow::Step);
  timer_->start();
}

void SplashWindow::SetProgress(int percent) {
  gauge_->setValue(std::clamp(percent, 0, 100));
}

int SplashWindow::Progress() const {
  return gauge_->value();
}

void SplashWindow::SetWarning(const QString& text) {
  warning_->setPlainText(text);
}

QString SplashWindow::Warning() const {
  return warning_->toPlainText();
}

void SplashWindow::Relabel(const Language& texts) {
  captions_.Apply(texts);
}

void SplashWindow::Finish() {
  if (timer_->isActive()) Step();
  timer_->stop();
  hide();
}

void SplashWindow::Step() {
  const qint64 steps = since_.elapsed() / kGaugeIntervalMs;
  SetProgress(static_cast<int>(std::min<qint64>(gauge_->maximum(), kGaugeStep * (1 + steps))));
  if (Progress() >= gauge_->maximum()) timer_->stop();
  update();
}

}  // namespace kasse
